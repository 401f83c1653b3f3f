// Which trays the desktop has, now and whenever that changes: a
// StatusNotifierItem host registered with the watcher on the session bus,
// and an XEmbed tray (the owner of the screen's tray selection). The checks
// are events, not a poll; a watcher query that fails is asked again.
#pragma once
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

class QDBusServiceWatcher;
struct xcb_connection_t;

namespace orlimo {

// Qt's own X connection; null when the program does not run on X11.
xcb_connection_t* XConnection();
// An atom of that X server; XCB_ATOM_NONE (0) when it cannot be had.
unsigned XAtom(xcb_connection_t* c, const char* name);

class CTrayWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    CTrayWatch();
    ~CTrayWatch() override;

    // The watcher says a StatusNotifierItem host is registered (asked at
    // start, whenever a watcher appears on the session bus or says a host
    // came or went; its StatusNotifierHostRegistered signal says so too).
    bool HostRegistered() const { return host_; }
    // An XEmbed tray has been there for kXEmbedGraceMs (at start, or since
    // its MANAGER message) without a StatusNotifierItem host coming too: a
    // panel that offers both (xfce4-panel) may take the selection first.
    bool XEmbedReady() const { return xembed_; }

    static constexpr int kXEmbedGraceMs = 2000;
    // A failed query of the watcher is asked again this many times, the
    // first after kFirstRetryMs, each wait twice the one before.
    static constexpr int kRetries = 6;
    static constexpr int kFirstRetryMs = 250;
    // After this long without a tray, one line on standard error says why
    // there is no icon; the watch goes on.
    static constexpr int kNoTrayNoticeMs = 30000;

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;
#else
    bool nativeEventFilter(const QByteArray& type, void* message, long* result) override;
#endif

signals:
    // HostRegistered() or XEmbedReady() changed.
    void Changed();
    // A watcher took its name on the bus (the first, or one that restarted):
    // items register with it again.
    void WatcherCame();

private slots:
    void OnHostRegistered();
    void OnHostUnregistered();

private:
    void AskWatcher();
    void SetHost(bool registered);
    void XEmbedTrayCame();

    bool host_ = false;
    bool xembed_ = false;
    int asked_ = 0;      // queries sent; only the latest one's answer counts
    int attempt_ = 0;    // failed queries in a row
    QTimer retry_;
    QDBusServiceWatcher* service_watch_ = nullptr;
    QTimer xembed_grace_;
    QTimer notice_;
    unsigned manager_atom_ = 0;    // xcb atoms; 0 without X
    unsigned selection_atom_ = 0;
};

}  // namespace orlimo
