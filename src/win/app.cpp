#include "win/app.h"

#include <objbase.h>
#include <shlobj.h>

#include "core/autorun.h"
#include "core/portal.h"
#include "resource.h"
#include "win/dialogs.h"
#include "win/frame.h"
#include "win/fetch.h"
#include "win/instance.h"
#include "win/launch.h"
#include "win/policy.h"
#include "win/registry.h"
#include "win/self_install.h"
#include "win/settings_io.h"
#include "win/shortcuts.h"

namespace orlimo {

COrlimoApp::COrlimoApp() = default;
COrlimoApp::~COrlimoApp() = default;

namespace {

// Restart Manager (an installer replacing the program while it runs) starts
// it again once it has closed it. Not after a crash or a hang, nor after a
// reboot, where the Run value starts it at logon. (Vista and later.)
void RegisterForRestart() {
    using Register = HRESULT(WINAPI*)(PCWSTR, DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto reg = kernel ? reinterpret_cast<Register>(GetProcAddress(kernel, "RegisterApplicationRestart")) : nullptr;
    const DWORD kNoCrash = 1, kNoHang = 2, kNoReboot = 8;
    if (reg) reg(nullptr, kNoCrash | kNoHang | kNoReboot);
}

// The machine-wide Run value "orlimo", in either registry view: the x86
// and x64 programs and packages each keep theirs in their own, and there
// is to be one at most.
struct MachineRunValue : RunValuePort {
    void Write() override {
        if (!Present()) SetRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName, kRunValueData);
    }
    void Remove() override {
        DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName);
        if (REGSAM other = OtherRegistryView()) DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName, other);
    }
    bool Present() override {
        const REGSAM other = OtherRegistryView();
        return RunValuePresent(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName) ||
               (other && RunValuePresent(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName, other));
    }
};
}  // namespace

BOOL COrlimoApp::InitInstance(const wchar_t* arguments) {
    // A start that the running orlimo made elevated to change autorun (its
    // user said yes to "更改自动运行需要管理员权限..."): it makes the change,
    // tells the running one, and ends.
    const AutorunRequest request = ParseAutorunRequest(WideToUtf8(arguments ? arguments : L""));
    if (request != AutorunRequest::None) {
        MachineRunValue run_value;
        if (SetAutorun(request == AutorunRequest::On, run_value).refused) {
            AppMessageBox(IDS_AUTORUN_FAILED, MB_OK | MB_ICONEXCLAMATION);
            return FALSE;
        }
    }
    // One orlimo per session: a second start (from the applications menu, a
    // restored session, a hand-installed program whose Run value sits beside
    // the package's) shows the user the running one and ends before it
    // touches anything.
    if (!ClaimSession(request != AutorunRequest::None)) return FALSE;
    RegisterForRestart();
    autorun_flag = 1;
    InstallSelf();
    std::string path = ResolveSettingsPath();
    std::string bytes;
    if (LoadSettings(path, &bytes)) {
        FollowSharedSettings(&path, &bytes);
        BookmarkList unused;
        ApplySettingsText(bytes, &own_settings, &unused);
        file_encoding = DetectEncoding(bytes);
    }
    ApplyPolicies();

    frame_ = std::make_unique<CMainFrame>(*this);
    if (!frame_->Create()) return FALSE;
    SetAppMainWindow(frame_->GetSafeHwnd());
    ShowWindow(frame_->GetSafeHwnd(), SW_HIDE);
    UpdateWindow(frame_->GetSafeHwnd());

    HRESULT hr = CoInitialize(nullptr);
    if (hr != S_OK) AppMessageBox(IDS_COM_FAILED);
    CreateAllShortcuts(settings);
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

void COrlimoApp::OpenUrl(const std::string& url) { LaunchAddress(url); }

void COrlimoApp::OnSettings() {
    CConfigDlg dlg(*this);
    dlg.DoModal();
}

void COrlimoApp::ApplyPolicies() {
    const CodePageConverter converter;
    const PolicyInForce p = ApplyPolicy(own_settings, file_encoding, ReadPolicies(), converter);
    for (const std::string& reason : p.reasons) WriteLogLine(reason);
    settings = p.values;
    settings_encoding = p.encoding;
    SetSettingsCodePage(CodePageOf(settings_encoding));
    bookmark_entries.SplitBookmarks(settings.bookmark);
    locked = p.locked;
    autorun_policy = p.autorun;
    if (autorun_policy) {
        MachineRunValue run_value;
        autorun_flag = EnforceAutorun(*autorun_policy, run_value) ? 1 : 0;
        if ((autorun_flag == 1) != *autorun_policy)
            WriteLogLine(std::string("autorun=") + (*autorun_policy ? "1" : "0") +
                         " of the policy: the Run value could not be " + (*autorun_policy ? "written" : "removed") +
                         " (administrator rights needed)");
    }
}

void COrlimoApp::OnPolicyChange() { ApplyPolicies(); }

std::string COrlimoApp::SaveOwnSettings(const std::string& path, const DialogValues& dialog, unsigned locked_then) {
    const SavedFile saved = SaveDialogValues(own_settings, file_encoding, dialog, locked_then, CodePageConverter());
    // In force at once, also when the file cannot be written.
    own_settings = saved.values;
    file_encoding = saved.encoding;
    ApplyPolicies();
    return SaveSettings(path, saved.bytes);
}

void COrlimoApp::ReadAutorunState() {
    MachineRunValue run_value;
    autorun_flag = run_value.Present() ? 1 : 0;
}

void COrlimoApp::OnAutoRun() {
    MachineRunValue run_value;
    const bool want = autorun_flag != 1;
    const AutorunToggle result = ToggleAutorun(autorun_flag, run_value);
    autorun_flag = result.autorun_flag;
    if (!result.refused) return;
    // A standard user may not write HKLM: offered to start orlimo elevated
    // for the change alone (it ends once it is made, and this one reads the
    // Run value again). Refused although elevated, there is nothing to offer.
    if (ProcessElevated()) {
        AppMessageBox(IDS_AUTORUN_FAILED, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (AppMessageBox(IDS_AUTORUN_NEEDS_ADMIN, MB_YESNO | MB_ICONEXCLAMATION) != IDYES) return;
    const std::wstring arguments = Utf8ToWide(want ? kAutorunOnArguments : kAutorunOffArguments);
    // The UAC prompt answered "no" is the user's choice, not a failure.
    if (!StartElevated(arguments.c_str()) && GetLastError() != ERROR_CANCELLED)
        AppMessageBox(IDS_AUTORUN_FAILED, MB_OK | MB_ICONEXCLAMATION);
}

void COrlimoApp::OnNotifierUpdate() {
    CUpdateDlg dlg(*this);
    dlg.DoModal();
}

void COrlimoApp::OnAbout() {
    CAboutDlg dlg;
    dlg.DoModal();
}

void COrlimoApp::OnAppExit() {
    if (HWND main = AppMainWindow()) SendMessageW(main, WM_CLOSE, 0, 0);
}

void COrlimoApp::OnShortcut(Command which) {
    switch (which) {
    case Command::ShortcutDesktop: CreatePortalShortcut(settings, CSIDL_DESKTOPDIRECTORY, 0); break;
    case Command::ShortcutStartMenu: CreatePortalShortcut(settings, CSIDL_STARTMENU, 0); break;
    case Command::ShortcutQuickLaunch: CreatePortalShortcut(settings, CSIDL_APPDATA, 1); break;
    default: CreateAllShortcuts(settings); break;
    }
}

// The one application object, created by static initialisation.
static COrlimoApp theApp;

COrlimoApp& TheApp() { return theApp; }

}  // namespace orlimo
