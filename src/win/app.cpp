#include "win/app.h"

#include <objbase.h>
#include <shlobj.h>

#include "core/autorun.h"
#include "core/portal.h"
#include "resource.h"
#include "win/dialogs.h"
#include "win/frame.h"
#include "win/launch.h"
#include "win/registry.h"
#include "win/self_install.h"
#include "win/settings_io.h"
#include "win/shortcuts.h"

namespace orlimo {

COrlimoApp::COrlimoApp() = default;
COrlimoApp::~COrlimoApp() = default;

BOOL COrlimoApp::InitInstance() {
    autorun_flag = 1;
    InstallSelf();
    LoadSettings(ResolveSettingsPath(), &settings, &bookmark_entries);

    frame_ = std::make_unique<CMainFrame>(*this);
    if (!frame_->Create()) return FALSE;
    SetAppMainWindow(frame_->GetSafeHwnd());
    ShowWindow(frame_->GetSafeHwnd(), SW_HIDE);
    UpdateWindow(frame_->GetSafeHwnd());

    HRESULT hr = CoInitialize(nullptr);
    if (hr != S_OK) AppMessageBox(IDS_COM_FAILED);
    CreateAllShortcuts();
    return TRUE;
}

int COrlimoApp::Run() {
    HACCEL accel = LoadAcceleratorsW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        HWND main = AppMainWindow();
        if (accel && main && TranslateAcceleratorW(main, accel, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    SetAppMainWindow(nullptr);
    frame_.reset();
    return static_cast<int>(msg.wParam);
}

bool COrlimoApp::HasCommandHandler(UINT id) const {
    if (FindPageCommand(static_cast<int>(id)) || FavoriteNumber(static_cast<int>(id))) return true;
    switch (id) {
    case ID_TRAY_CONFIG:
    case ID_SETTINGS:
    case ID_TRAY_CLOSE:
    case ID_AUTORUN:
    case ID_NOTIFIER_UPDATE:
    case ID_PORTAL_HOME:
    case ID_APP_ABOUT:
    case ID_APP_EXIT:
    case ID_FILE_NEW:
    case ID_FILE_OPEN:
    case ID_SHORTCUT_DESKTOP:
    case ID_SHORTCUT_STARTMENU:
    case ID_SHORTCUT_QUICKLAUNCH:
    case ID_SHORTCUT_ALL:
        return true;
    default:
        return false;
    }
}

bool COrlimoApp::OnCmdMsg(UINT id) {
    if (const PageCommand* page = FindPageCommand(static_cast<int>(id))) {
        LaunchAddress(PageCommandUrl(*page, settings));
        return true;
    }
    if (int n = FavoriteNumber(static_cast<int>(id))) {
        OnFavorite(n);
        return true;
    }
    switch (id) {
    case ID_TRAY_CONFIG:
    case ID_SETTINGS: OnSettings(); return true;
    case ID_TRAY_CLOSE: return true;  // nothing to do
    case ID_AUTORUN: OnAutoRun(); return true;
    case ID_NOTIFIER_UPDATE: OnNotifierUpdate(); return true;
    case ID_PORTAL_HOME: OnPortalHome(); return true;
    case ID_APP_ABOUT: OnAbout(); return true;
    case ID_APP_EXIT: OnAppExit(); return true;
    // The document holds nothing: a new or opened document changes nothing.
    case ID_FILE_NEW:
    case ID_FILE_OPEN: return true;
    case ID_SHORTCUT_DESKTOP: CreatePortalShortcut(CSIDL_DESKTOPDIRECTORY, 0); return true;
    case ID_SHORTCUT_STARTMENU: CreatePortalShortcut(CSIDL_STARTMENU, 0); return true;
    case ID_SHORTCUT_QUICKLAUNCH: CreatePortalShortcut(CSIDL_APPDATA, 1); return true;
    case ID_SHORTCUT_ALL: CreateAllShortcuts(); return true;
    default: return false;
    }
}

bool COrlimoApp::OnUpdateCmdUI(CCmdUI& ui) {
    if (ui.Id() == ID_AUTORUN) {
        OnUpdateAutoRun(ui);
        return true;
    }
    if (int n = FavoriteNumber(static_cast<int>(ui.Id()))) {
        OnUpdateFavorite(n, ui);
        return true;
    }
    return false;
}

void COrlimoApp::OpenUrl(std::string url) { LaunchAddress(url); }

void COrlimoApp::OnSettings() {
    CConfigDlg dlg(*this);
    dlg.DoModal();
}

namespace {
// The machine-wide Run value "orlimo".
struct MachineRunValue : RunValuePort {
    void Write() override { SetRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName, kRunValueData); }
    void Remove() override { DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName); }
    bool Present() override { return RunValuePresent(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName); }
};
}  // namespace

void COrlimoApp::OnAutoRun() {
    MachineRunValue run_value;
    const AutorunToggle result = ToggleAutorun(autorun_flag, run_value);
    autorun_flag = result.autorun_flag;
    if (result.refused) AppMessageBox(IDS_AUTORUN_NEEDS_ADMIN, MB_OK | MB_ICONEXCLAMATION);
}

void COrlimoApp::OnUpdateAutoRun(CCmdUI& ui) {
    ui.SetCheck(autorun_flag == 1 ? 1 : 0);
}

void COrlimoApp::OnNotifierUpdate() {
    CUpdateDlg dlg(*this);
    dlg.DoModal();
}

void COrlimoApp::OnPortalHome() { LaunchAddress(ServerRootUrl(settings)); }

void COrlimoApp::OnAbout() {
    CAboutDlg dlg;
    dlg.DoModal();
}

void COrlimoApp::OnAppExit() {
    if (HWND main = AppMainWindow()) SendMessageW(main, WM_CLOSE, 0, 0);
}

void COrlimoApp::OnFavorite(int n) {
    if (std::optional<std::string> url = FavoriteTarget(n, bookmark_entries)) OpenUrl(*url);
}

void COrlimoApp::OnUpdateFavorite(int n, CCmdUI& ui) {
    FavoriteView view = FavoriteUpdate(n, bookmark_entries);
    if (view.set_enabled) ui.Enable(view.enabled);
    if (view.set_text) ui.SetTextAnsi(view.text);
}

// The one application object, created by static initialisation.
static COrlimoApp theApp;

COrlimoApp& TheApp() { return theApp; }

}  // namespace orlimo
