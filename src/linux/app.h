// The application object: start-up, the settings in force, and every
// command of the tray menu.
#pragma once
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>
#include <string>

#include "core/settings.h"
#include "linux/settings_file.h"

namespace orlimo {

class CMainFrame;

// What one menu item shows, as the command-UI update leaves it.
class CCmdUI {
public:
    CCmdUI(int id, QString text, bool enabled, bool checked)
        : id(id), text(std::move(text)), enabled(enabled), checked(checked) {}
    int Id() const { return id; }
    void Enable(bool on) { enabled = on; }
    void SetText(QString caption) { text = std::move(caption); }
    void SetCheck(bool on) { checked = on; }

    int id;
    QString text;
    bool enabled;
    bool checked;
};

class COrlimoApp {
public:
    COrlimoApp();
    ~COrlimoApp();

    // Loads the settings, shows the tray icon, writes the shortcuts.
    void InitInstance();
    // Exit has begun: nothing more is polled or shown.
    void ExitInstance();

    bool HasCommandHandler(int id) const;
    void OnCmdMsg(int id);
    void OnUpdateCmdUI(CCmdUI& ui);

    // A portal page through the login redirect.
    void OpenPortalPage(const std::string& page_path);
    // Any complete address (a favorite).
    void OpenUrl(const std::string& url);
    // Hands an address to the default browser (QDesktopServices, no shell).
    void LaunchAddress(const std::string& address);
    // An address made of settings-file text, as a URL.
    QUrl AddressUrl(const std::string& address) const;

    void OnLoginPage();       // the tray icon's activation
    void OnNotifierUpdate();  // "自动更新", and the poller's update prompt

    void CreateAllShortcuts();
    void OnShortcutDesktop();
    void OnShortcutApplications();

    Settings settings;
    BookmarkList bookmark_entries;
    FileEncoding settings_encoding = FileEncoding::Utf8;
    int32_t autorun_flag = 0;

private:
    void OnSettings();
    void OnAutoRun();
    void OnUpdateAutoRun(CCmdUI& ui);
    void OnAbout();
    void OnAppExit();
    void OnFavorite(int n);
    void OnUpdateFavorite(int n, CCmdUI& ui);
    QByteArray PortalShortcut() const;

    // Opens a dialog of a command and returns at once; while it is open,
    // the command brings it to the front instead of opening a second one.
    template <class Dialog, class... Args>
    void OpenCommandDialog(QPointer<QDialog>& open, Args&... args);

    std::unique_ptr<CMainFrame> frame_;
    QPointer<QDialog> settings_dlg_;
    QPointer<QDialog> update_dlg_;
    QPointer<QDialog> about_dlg_;
};

}  // namespace orlimo
