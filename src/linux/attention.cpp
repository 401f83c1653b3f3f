#include "linux/attention.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
#include <QNetworkInformation>
#endif

#include <xcb/xcb.h>

#include <dlfcn.h>

#include <cstdlib>

#include "linux/tray_host.h"

namespace orlimo {
namespace {

const char kNotifications[] = "org.freedesktop.Notifications";
const char kNotificationsPath[] = "/org/freedesktop/Notifications";
const char kProperties[] = "org.freedesktop.DBus.Properties";

// GSettings, from the GLib that Qt's event loop already uses, looked up
// at run time: the program neither builds against GLib's headers nor needs
// GNOME's schemas; without them there is simply no "do not disturb".
struct GSettingsCalls {
    using SourceDefault = void* (*)();
    using Lookup = void* (*)(void*, const char*, int);
    using HasKey = int (*)(void*, const char*);
    using NewFull = void* (*)(void*, void*, const char*);
    using GetBoolean = int (*)(void*, const char*);
    using SchemaUnref = void (*)(void*);
    using ObjectUnref = void (*)(void*);
    SourceDefault source_default = nullptr;
    Lookup lookup = nullptr;
    HasKey has_key = nullptr;
    NewFull new_full = nullptr;
    GetBoolean get_boolean = nullptr;
    SchemaUnref schema_unref = nullptr;
    ObjectUnref object_unref = nullptr;

    static const GSettingsCalls* Get() {
        static const GSettingsCalls calls = Load();
        return calls.get_boolean ? &calls : nullptr;
    }

private:
    static GSettingsCalls Load() {
        GSettingsCalls c;
        void* gio = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!gio) return c;
        c.source_default = reinterpret_cast<SourceDefault>(dlsym(gio, "g_settings_schema_source_get_default"));
        c.lookup = reinterpret_cast<Lookup>(dlsym(gio, "g_settings_schema_source_lookup"));
        c.has_key = reinterpret_cast<HasKey>(dlsym(gio, "g_settings_schema_has_key"));
        c.new_full = reinterpret_cast<NewFull>(dlsym(gio, "g_settings_new_full"));
        c.schema_unref = reinterpret_cast<SchemaUnref>(dlsym(gio, "g_settings_schema_unref"));
        c.object_unref = reinterpret_cast<ObjectUnref>(dlsym(gio, "g_object_unref"));
        c.get_boolean = reinterpret_cast<GetBoolean>(dlsym(gio, "g_settings_get_boolean"));
        if (!c.source_default || !c.lookup || !c.has_key || !c.new_full || !c.schema_unref || !c.object_unref)
            c.get_boolean = nullptr;
        return c;
    }
};

// The window's _NET_WM_STATE holds the atom.
bool HasState(xcb_connection_t* c, xcb_window_t window, xcb_atom_t state_atom, xcb_atom_t wanted) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, state_atom, XCB_ATOM_ATOM, 0, 64), nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        const int n = xcb_get_property_value_length(reply) / 4;
        for (int i = 0; i < n && !found; ++i) found = atoms[i] == wanted;
    }
    free(reply);
    return found;
}

}  // namespace

CAttention::CAttention() {
    if (const GSettingsCalls* g = GSettingsCalls::Get()) {
        if (void* source = g->source_default()) {
            if (void* schema = g->lookup(source, "org.gnome.desktop.notifications", 1)) {
                if (g->has_key(schema, "show-banners")) banners_ = g->new_full(schema, nullptr, nullptr);
                g->schema_unref(schema);
            }
        }
    }

    // The notification server's Inhibited property (where it has one),
    // kept from its PropertiesChanged signal, and asked again whenever a
    // server takes the name.
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        session.connect(QString::fromLatin1(kNotifications), QString::fromLatin1(kNotificationsPath),
                        QString::fromLatin1(kProperties), QStringLiteral("PropertiesChanged"), this,
                        SLOT(OnNotificationsChanged(QString, QVariantMap, QStringList)));
        auto* watch = new QDBusServiceWatcher(QString::fromLatin1(kNotifications), session,
                                              QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watch, &QDBusServiceWatcher::serviceOwnerChanged, this, &CAttention::AskInhibited);
        AskInhibited();
    }

    // Sleep and wake. Only logind may own its name on the system bus, and
    // the signal is taken from that sender alone.
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        system.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                       SLOT(OnPrepareForSleep(bool)));
    }

#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    // NetworkManager's, or GLib's network monitor: whichever Qt finds.
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
                &CAttention::NetworkChanged);
    }
#endif
}

CAttention::~CAttention() {
    if (banners_) GSettingsCalls::Get()->object_unref(banners_);
}

bool CAttention::UserCanBeDisturbed() {
    return !inhibited_ && !GnomeDoNotDisturb() && !ActiveWindowFullScreen();
}

bool CAttention::ActiveWindowFullScreen() {
    xcb_connection_t* c = XConnection();
    if (!c) return false;
    static const xcb_atom_t active_atom = XAtom(c, "_NET_ACTIVE_WINDOW");
    static const xcb_atom_t state_atom = XAtom(c, "_NET_WM_STATE");
    static const xcb_atom_t full_atom = XAtom(c, "_NET_WM_STATE_FULLSCREEN");
    if (!active_atom || !state_atom || !full_atom) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen) return false;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, screen->root, active_atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
    xcb_window_t active = XCB_WINDOW_NONE;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        active = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    free(reply);
    return active != XCB_WINDOW_NONE && HasState(c, active, state_atom, full_atom);
}

bool CAttention::GnomeDoNotDisturb() {
    return banners_ && !GSettingsCalls::Get()->get_boolean(banners_, "show-banners");
}

void CAttention::AskInhibited() {
    const int number = ++asked_;
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(kNotifications),
                                                      QString::fromLatin1(kNotificationsPath),
                                                      QString::fromLatin1(kProperties), QStringLiteral("Get"));
    get << QString::fromLatin1(kNotifications) << QStringLiteral("Inhibited");
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, number](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (number != asked_) return;
        const QDBusPendingReply<QDBusVariant> reply = *w;
        // No server, or one without the property: nothing inhibits.
        inhibited_ = !reply.isError() && reply.value().variant().toBool();
    });
}

void CAttention::OnNotificationsChanged(const QString& interface, const QVariantMap& changed,
                                        const QStringList& invalidated) {
    if (interface != QLatin1String(kNotifications)) return;
    if (changed.contains(QStringLiteral("Inhibited"))) {
        ++asked_;  // an answer still on its way is older than this
        inhibited_ = changed.value(QStringLiteral("Inhibited")).toBool();
    } else if (invalidated.contains(QStringLiteral("Inhibited"))) {
        AskInhibited();
    }
}

void CAttention::OnPrepareForSleep(bool going_to_sleep) {
    if (!going_to_sleep) emit Woke();
}

}  // namespace orlimo
