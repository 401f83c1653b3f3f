// The application object: start-up, the settings in force, and every menu
// command of the tray menu.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

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


    Settings settings;
    BookmarkList bookmark_entries;
    // How the settings file read at start is written, for the dialog's Save.
    SettingsForm settings_form;
    int32_t autorun_flag = 0;

private:
    void OnSettings() override;
    void OnAutoRun() override;
    int32_t AutorunFlag() override { return autorun_flag; }
    void OnNotifierUpdate() override;
    void OnAbout() override;
    void OnAppExit() override;
    void OnShortcut(Command which) override;

    std::unique_ptr<CMainFrame> frame_;
};

COrlimoApp& TheApp();

}  // namespace orlimo
