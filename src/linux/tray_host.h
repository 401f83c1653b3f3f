// When the desktop has a tray for the icon. Qt chooses between a
// StatusNotifierItem and XEmbed once, when the first icon is made, and keeps
// that choice for the life of the process: an icon made before the panel's
// tray is there would never reach it. So the icon waits for a tray, for as
// long as it takes; the checks are events, not a poll.
#pragma once
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include <functional>

class QDBusServiceWatcher;

namespace orlimo {

class CTrayWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // ready runs once, from the event loop, when there is a tray: a
    // StatusNotifierItem host registered with the watcher (at start, by the
    // watcher's StatusNotifierHostRegistered signal, or a watcher appearing
    // on the session bus that has one), or an owner of the screen's XEmbed
    // tray selection (at start, or its MANAGER message) that has been there
    // for kXEmbedGraceMs without a StatusNotifierItem host coming too (a
    // panel that offers both may take the XEmbed selection first).
    explicit CTrayWatch(std::function<void()> ready);
    ~CTrayWatch() override;

    static constexpr int kXEmbedGraceMs = 2000;
    // After this long without a tray, one line on standard error says why
    // there is no icon; the watch goes on.
    static constexpr int kNoTrayNoticeMs = 30000;

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;
#else
    bool nativeEventFilter(const QByteArray& type, void* message, long* result) override;
#endif

private slots:
    void OnHostRegistered();

private:
    void AskWatcher();
    void XEmbedTrayCame();
    void Ready();

    std::function<void()> ready_;
    bool done_ = false;
    QDBusServiceWatcher* service_watch_ = nullptr;
    QTimer xembed_grace_;
    QTimer notice_;
    unsigned manager_atom_ = 0;    // xcb atoms; 0 without X
    unsigned selection_atom_ = 0;
};

}  // namespace orlimo
