// orlimo on a Linux desktop: a tray icon, no window of its own.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLibraryInfo>
#include <QLocale>
#include <QNetworkProxyFactory>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif
#include <QTranslator>

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/instance.h"
#include "core/poller.h"
#include "linux/app.h"
#include "linux/frame.h"

namespace {

// The session bus name that the running instance holds, without the
// session (an earlier version's name, and the name without a session id).
const char kInstanceBase[] = "com.dunlore.orlimo";

// The login session the program runs in, as logind names it.
std::string SessionId() {
    const char* id = std::getenv("XDG_SESSION_ID");
    return id ? id : "";
}

// XDG_SESSION_ID as the process pid started with; nullopt when unreadable.
std::optional<std::string> SessionIdOf(uint pid) {
    QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
    if (!environ.open(QIODevice::ReadOnly)) return std::nullopt;
    for (const QByteArray& entry : environ.readAll().split('\0')) {
        if (entry.startsWith("XDG_SESSION_ID=")) return entry.mid(15).toStdString();
    }
    return std::string();
}

// The name by which another instance runs in this session, or nothing.
// The running one holds the session's name on the session bus, which is
// taken here without queueing (a queued request would make this instance
// the next owner, not the only one). An earlier version, still running
// after an upgrade, holds the name without the session: it counts when it
// runs in this session (or says none). Without a session bus, or when the
// bus answers nothing, this instance runs.
QString RunningInstance(const QString& name) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return QString();
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered) return name;
    const QString base = QString::fromLatin1(kInstanceBase);
    if (name == base) return QString();
    const QDBusReply<uint> pid = bus.interface()->servicePid(base);
    if (!pid.isValid()) return QString();
    const std::optional<std::string> other = SessionIdOf(pid.value());
    return !other || other->empty() || *other == SessionId() ? base : QString();
}

// Qt's platform, unless the user chose one (QT_QPA_PLATFORM, -platform): in
// a Wayland session that offers Xwayland, X11 through it. There the window
// manager keeps a prompt that a poll raises above the user's window and
// leaves them the keyboard, which Wayland lets no client ask for; without
// Xwayland (or when it fails to start), Wayland (which Qt 5 would not try
// on GNOME by itself).
std::vector<char*> PlatformArguments(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    auto set = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value && *value;
    };
    bool chosen = set("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) chosen = true;
    }
    if (!chosen && set("WAYLAND_DISPLAY")) {
        static char option[] = "-platform";
        static char through_x11[] = "xcb;wayland";
        static char wayland[] = "wayland";
        args.insert(args.begin() + 1, {option, set("DISPLAY") ? through_x11 : wayland});
    }
    args.push_back(nullptr);
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = PlatformArguments(argc, argv);
    int qt_argc = static_cast<int>(args.size()) - 1;
    QApplication app(qt_argc, args.data());
    // One instance per session: a second start (the applications menu, a
    // restored session beside the autostart entry) ends before it reads,
    // writes or shows anything.
    const QString instance = QString::fromStdString(orlimo::InstanceBusName(kInstanceBase, SessionId()));
    const QString running = RunningInstance(instance);
    if (!running.isEmpty()) {
        std::fprintf(stderr, "orlimo: already running in this session (%s on the session bus)\n",
                     qPrintable(running));
        return 0;
    }
#if QT_CONFIG(sessionmanager)
    // The autostart entry starts the program with every session; a session
    // manager that restarted it as well would start a second one.
    auto never_restart = [](QSessionManager& manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
    };
    QObject::connect(&app, &QGuiApplication::commitDataRequest, never_restart);
    QObject::connect(&app, &QGuiApplication::saveStateRequest, never_restart);
#endif
    QApplication::setApplicationName(QStringLiteral("orlimo"));
    QApplication::setDesktopFileName(QStringLiteral("orlimo"));
    // Closing the last dialog must not end a program that lives in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(orlimo::TrayPicture(orlimo::kIconNormal));
    // Qt's own texts (the message box's button) in the user's language.
    QTranslator qt_texts;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString translations = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    if (qt_texts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"), translations)) {
        QApplication::installTranslator(&qt_texts);
    }
    // The system's proxy: Qt 6 asks libproxy (the desktop's settings where
    // libproxy has a plugin for them, else http_proxy, https_proxy and
    // no_proxy); Qt 5 reads those variables only.
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    orlimo::COrlimoApp the_app;
    the_app.InitInstance();
    const int result = QApplication::exec();
    the_app.ExitInstance();
    return result;
}
