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

#include <cstdio>

#include "core/poller.h"
#include "linux/app.h"
#include "linux/frame.h"

namespace {

// The session bus name that the running instance holds.
const char kInstanceName[] = "com.dunlore.orlimo";

// Whether another instance runs in this session: it holds the name on the
// session bus, which is taken here without queueing (a queued request would
// make this instance the next owner, not the only one). Without a session
// bus, or when the bus answers nothing, this instance runs.
bool AnotherInstanceRuns() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(QString::fromLatin1(kInstanceName),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // One instance per session: a second start (the applications menu, a
    // restored session beside the autostart entry) ends before it reads,
    // writes or shows anything.
    if (AnotherInstanceRuns()) {
        std::fprintf(stderr, "orlimo: already running in this session (%s on the session bus)\n",
                     kInstanceName);
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
