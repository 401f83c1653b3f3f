#include "linux/tray_host.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QX11Info>
#endif

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orlimo {

xcb_connection_t* XConnection() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
#else
    return QX11Info::isPlatformX11() ? QX11Info::connection() : nullptr;
#endif
}

unsigned XAtom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return atom;
}

namespace {

const char kWatcher[] = "org.kde.StatusNotifierWatcher";
const char kWatcherPath[] = "/StatusNotifierWatcher";

bool SelectionOwned(xcb_connection_t* c, xcb_atom_t selection) {
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    return owned;
}

}  // namespace

CTrayWatch::CTrayWatch() {
    xembed_grace_.setSingleShot(true);
    xembed_grace_.setInterval(kXEmbedGraceMs);
    connect(&xembed_grace_, &QTimer::timeout, this, [this] {
        xcb_connection_t* c = XConnection();
        if (xembed_ || !c || !SelectionOwned(c, selection_atom_)) return;
        xembed_ = true;
        notice_.stop();
        emit Changed();
    });
    notice_.setSingleShot(true);
    connect(&notice_, &QTimer::timeout, this, [] {
        std::fprintf(stderr,
                     "orlimo: no tray yet (no StatusNotifierItem host is registered and the screen has no "
                     "XEmbed tray); polls go on, and the icon shows once a tray comes\n");
    });
    notice_.start(kNoTrayNoticeMs);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { AskWatcher(); });

    // Listening first, then asking: a tray that comes in between is not missed.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        service_watch_ = new QDBusServiceWatcher(QString::fromLatin1(kWatcher), bus,
                                                 QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(service_watch_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& owner) {
                    if (owner.isEmpty()) {
                        SetHost(false);  // the watcher went, and its hosts with it
                        return;
                    }
                    attempt_ = 0;
                    AskWatcher();
                    emit WatcherCame();
                });
        // From whichever process owns the watcher's name now or later.
        bus.connect(QString(), QString::fromLatin1(kWatcherPath), QString::fromLatin1(kWatcher),
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(OnHostRegistered()));
        bus.connect(QString(), QString::fromLatin1(kWatcherPath), QString::fromLatin1(kWatcher),
                    QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(OnHostUnregistered()));
        AskWatcher();
    }
    if (xcb_connection_t* c = XConnection()) {
        // The tray of screen 0, the one X screen of a desktop session. A tray
        // that takes the selection later says so to the root window with a
        // MANAGER message, which Qt's own root-window mask lets through.
        static const char kManager[] = "MANAGER";
        static const char kSelection[] = "_NET_SYSTEM_TRAY_S0";
        manager_atom_ = XAtom(c, kManager);
        selection_atom_ = XAtom(c, kSelection);
        if (manager_atom_ != XCB_ATOM_NONE && selection_atom_ != XCB_ATOM_NONE) {
            QCoreApplication::instance()->installNativeEventFilter(this);
            if (SelectionOwned(c, selection_atom_)) XEmbedTrayCame();
        }
    }
}

CTrayWatch::~CTrayWatch() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
}

void CTrayWatch::AskWatcher() {
    retry_.stop();
    // Asked without waiting: the answer comes back through the event loop.
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(kWatcher),
                                                      QString::fromLatin1(kWatcherPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QString::fromLatin1(kWatcher) << QStringLiteral("IsStatusNotifierHostRegistered");
    const int asked = ++asked_;
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, asked](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        if (asked != asked_) return;  // a later question is on its way
        const QDBusPendingReply<QDBusVariant> reply = *done;
        if (reply.isValid()) {
            attempt_ = 0;
            SetHost(reply.value().variant().toBool());
            return;
        }
        // No watcher at all: the service watch says when one comes. Any other
        // failure (a watcher that has just taken its name and is not ready,
        // one that is busy) is asked again a few times.
        const QDBusError::ErrorType error = reply.error().type();
        if (error == QDBusError::ServiceUnknown) return;
        if (attempt_ < kRetries) retry_.start(kFirstRetryMs << attempt_++);
    });
}

void CTrayWatch::SetHost(bool registered) {
    if (registered) notice_.stop();
    if (registered == host_) return;
    host_ = registered;
    emit Changed();
}

void CTrayWatch::OnHostRegistered() { SetHost(true); }

// The watcher may have other hosts still: it says.
void CTrayWatch::OnHostUnregistered() { AskWatcher(); }

void CTrayWatch::XEmbedTrayCame() {
    if (!xembed_ && !xembed_grace_.isActive()) xembed_grace_.start();
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
bool CTrayWatch::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
#else
bool CTrayWatch::nativeEventFilter(const QByteArray& type, void* message, long*) {
#endif
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    const auto* client = reinterpret_cast<const xcb_client_message_event_t*>(event);
    if (client->format == 32 && client->type == manager_atom_ && client->data.data32[1] == selection_atom_) {
        XEmbedTrayCame();
    }
    return false;  // Qt sees it too
}

}  // namespace orlimo
