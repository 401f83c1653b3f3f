// orlimo on a Linux desktop: a tray icon, no window of its own.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QNetworkProxyFactory>
#include <QTranslator>

#include "core/poller.h"
#include "linux/app.h"
#include "linux/frame.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
    // The proxy the desktop's environment names (http_proxy, no_proxy).
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    orlimo::COrlimoApp the_app;
    the_app.InitInstance();
    const int result = QApplication::exec();
    the_app.ExitInstance();
    return result;
}
