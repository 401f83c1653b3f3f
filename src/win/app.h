// The application object: start-up, the settings in force, and every menu
// command of the tray menu.
#pragma once
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "core/managed.h"
#include "core/settings.h"
#include "win/framework.h"
#include "win/settings_io.h"

namespace orlimo {

class CMainFrame;

class COrlimoApp : public CommandTarget {
public:
    COrlimoApp();
    ~COrlimoApp();

    // arguments: the command line after the program's name.
    BOOL InitInstance(const wchar_t* arguments = L"");
    int Run();

    // Command routing from the frame, through the core's table of commands.
    bool OnCmdMsg(UINT id) { return orlimo::OnCmdMsg(static_cast<int>(id), settings, bookmark_entries, *this); }
    bool HasCommandHandler(UINT id) const { return orlimo::HasCommandHandler(static_cast<int>(id), *this); }
    bool OnUpdateCmdUI(CCmdUI& ui) { return orlimo::OnUpdateCmdUI(ui, bookmark_entries, *this); }

    void OpenUrl(const std::string& url) override;

    // Group Policy changed (WM_SETTINGCHANGE "Policy"): read again, and the
    // values in force follow.
    void OnPolicyChange();
    // Another start changed autorun: the mark follows the Run value.
    void ReadAutorunState();
    // The settings dialog's Save: the user's own values in their file, the
    // values in force under the policies. The file written, empty when none.
    std::string SaveOwnSettings(const std::string& path, const DialogValues& dialog, unsigned locked);

    // In force: the user's own values under the policies, their text in
    // settings_encoding. Every part reads them when it needs a value.
    Settings settings;
    FileEncoding settings_encoding = FileEncoding::Native;
    BookmarkList bookmark_entries;
    // The user's own values as their file holds them, and its encoding.
    Settings own_settings;
    FileEncoding file_encoding = FileEncoding::Native;
    // The settings a policy sets (SettingBits), and autorun when one does.
    unsigned locked = 0;
    std::optional<bool> autorun_policy;
    int32_t autorun_flag = 0;

private:
    void OnSettings() override;
    void OnAutoRun() override;
    int32_t AutorunFlag() override { return autorun_flag; }
    bool AutorunLocked() const override { return autorun_policy.has_value(); }
    // The policies over the user's own values: the values in force, the
    // favorites, and the Run value where a policy sets autorun.
    void ApplyPolicies();
    void OnNotifierUpdate() override;
    void OnAbout() override;
    void OnAppExit() override;
    void OnShortcut(Command which) override;

    std::unique_ptr<CMainFrame> frame_;
};

COrlimoApp& TheApp();

}  // namespace orlimo
