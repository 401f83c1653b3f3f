// The application object: start-up, the settings in force, and every
// command of the tray menu.
#pragma once
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <string>

#include "core/commands.h"
#include "core/managed.h"
#include "core/settings.h"
#include "linux/settings_file.h"

namespace orlimo {

class CMainFrame;

// What one menu item shows, as the command-UI update leaves it.
class CCmdUI : public CmdUI {
public:
    CCmdUI(int id, QString text, bool enabled, bool checked, FileEncoding encoding)
        : id(id), text(std::move(text)), enabled(enabled), checked(checked), encoding_(encoding) {}
    int Id() const override { return id; }
    void Enable(bool on) override { enabled = on; }
    void SetText(const std::string& caption) override { text = DecodeText(caption, encoding_); }
    void SetCheck(bool on) override { checked = on; }

    int id;
    QString text;
    bool enabled;
    bool checked;

private:
    FileEncoding encoding_;
};

class COrlimoApp : public CommandTarget {
public:
    COrlimoApp();
    ~COrlimoApp();

    // Loads the settings, shows the tray icon, writes the shortcuts.
    void InitInstance();
    // Exit has begun: nothing more is polled or shown.
    void ExitInstance();

    // Command routing from the frame, through the core's table of commands.
    bool HasCommandHandler(int id) const { return orlimo::HasCommandHandler(id, *this); }
    void OnCmdMsg(int id) { orlimo::OnCmdMsg(id, settings, bookmark_entries, *this); }
    void OnUpdateCmdUI(CCmdUI& ui) { orlimo::OnUpdateCmdUI(ui, bookmark_entries, *this); }

    // A portal page through the login redirect.
    void OpenPortalPage(const std::string& page_path);
    // Any complete address (a favorite).
    void OpenUrl(const std::string& url) override;
    // Hands an address to the default browser (QDesktopServices, no shell).
    void LaunchAddress(const std::string& address);
    // An address made of settings-file text, as a URL.
    QUrl AddressUrl(const std::string& address) const;

    void OnLoginPage();       // the tray icon's activation
    void OnNotifierUpdate() override;  // "自动更新"
    void ShowUpdatePrompt();           // the same dialog, raised by a poll

    void CreateAllShortcuts();
    void OnShortcutDesktop();
    void OnShortcutApplications();

    // The settings dialog's Save: the user's own values in their file, the
    // values in force under the policy. False when the file could not be
    // written (the user has been told; the values are in force anyway).
    bool SaveOwnSettings(QWidget* owner, const QString& path, const DialogValues& dialog, unsigned locked);

    // In force: the user's own values under the policy, their text in
    // settings_encoding.
    Settings settings;
    FileEncoding settings_encoding = FileEncoding::Utf8;
    BookmarkList bookmark_entries;
    // The user's own values as their file holds them, and its encoding.
    Settings own_settings;
    FileEncoding file_encoding = FileEncoding::Native;
    // The settings the policy file sets (SettingBits), and autorun when it does.
    unsigned locked = 0;
    std::optional<bool> autorun_policy;
    int32_t autorun_flag = 0;

private:
    // Quick Launch has no counterpart on a Linux desktop.
    bool Offers(Command command) const override { return command != Command::ShortcutQuickLaunch; }
    void OnSettings() override;
    void OnAutoRun() override;
    int32_t AutorunFlag() override;
    bool AutorunLocked() const override { return autorun_policy.has_value(); }
    // The policy file over the user's own values: the values in force, the
    // favorites, and the autostart entry where it sets autorun.
    void ApplyPolicies();
    void OnAbout() override;
    void OnAppExit() override;
    void OnShortcut(Command which) override;
    QByteArray PortalShortcut() const;

    // Opens a dialog of a command and returns at once; while it is open,
    // the command brings it to the front instead of opening a second one.
    // A notice is raised by a poll (see OpenDialog).
    template <class Dialog, class... Args>
    void OpenCommandDialog(QPointer<QDialog>& open, bool notice, Args&... args);

    std::unique_ptr<CMainFrame> frame_;
    QPointer<QDialog> settings_dlg_;
    QPointer<QDialog> update_dlg_;
    QPointer<QDialog> about_dlg_;
};

}  // namespace orlimo
