// Whether the user may be disturbed by a prompt now, and the events after
// which a poll is worth making at once, as a Linux desktop tells them:
//   busy     the active X11 window is full screen (_NET_WM_STATE_FULLSCREEN:
//            a slide show, a video call, a shared screen); GNOME's "do not
//            disturb" (org.gnome.desktop.notifications show-banners false);
//            the notification server's Inhibited property
//   wake     logind's PrepareForSleep(false) on the system bus
//   network  Qt's network information says reachability changed (Qt 6)
// What a desktop does not offer counts as "may be disturbed": a Wayland
// window is not seen (only X11 and Xwayland ones are), and without GNOME's
// settings or a notification server that has the property, those two say
// nothing.
#pragma once
#include <QObject>

namespace orlimo {

class CAttention : public QObject {
    Q_OBJECT

public:
    CAttention();
    ~CAttention() override;

    // Asked when a reply would raise a prompt and on every poll tick while
    // one waits: answers at once (one X round trip, a GSettings read, and a
    // property kept from the notification server's signals).
    bool UserCanBeDisturbed();

signals:
    void Woke();
    void NetworkChanged();

private slots:
    void OnPrepareForSleep(bool going_to_sleep);
    void OnNotificationsChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
    void AskInhibited();

private:
    bool ActiveWindowFullScreen();
    bool GnomeDoNotDisturb();

    bool inhibited_ = false;
    int asked_ = 0;  // Inhibited queries sent; only the latest one's answer counts
    void* banners_ = nullptr;  // GSettings of org.gnome.desktop.notifications, when it exists
};

}  // namespace orlimo
