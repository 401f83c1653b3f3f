// The application object: start-up, the settings in force, and every menu
// command of the tray menu.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "core/settings.h"
#include "win/framework.h"
#include "win/shortcuts.h"

namespace orlimo {

class CMainFrame;

class COrlimoApp {
public:
    COrlimoApp();
    ~COrlimoApp();

    BOOL InitInstance();
    int Run();

    // Command routing from the frame; false when no handler exists.
    bool OnCmdMsg(UINT id);
    bool HasCommandHandler(UINT id) const;
    // Runs the command-UI update handler of ui's item; false when it has none.
    bool OnUpdateCmdUI(CCmdUI& ui);

    void OpenUrl(std::string url);

    // Shortcuts, for the settings in force
    void CreateAllShortcuts() { orlimo::CreateAllShortcuts(settings); }
    void CreatePortalShortcut(int csidl, int quick_launch) {
        orlimo::CreatePortalShortcut(settings, csidl, quick_launch);
    }

    Settings settings;
    BookmarkList bookmark_entries;
    int32_t autorun_flag = 0;

private:
    void OnSettings();
    void OnAutoRun();
    void OnUpdateAutoRun(CCmdUI& ui);
    void OnNotifierUpdate();
    void OnPortalHome();
    void OnAbout();
    void OnAppExit();
    void OnFavorite(int n);
    void OnUpdateFavorite(int n, CCmdUI& ui);

    std::unique_ptr<CMainFrame> frame_;
};

COrlimoApp& TheApp();

}  // namespace orlimo
