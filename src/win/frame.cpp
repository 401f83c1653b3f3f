#include "win/frame.h"

#include "resource.h"
#include "win/app.h"
#include "win/attention.h"
#include "win/dialogs.h"
#include "win/framework.h"
#include "win/instance.h"
#include "win/launch.h"
#include "core/portal.h"

namespace orlimo {

namespace {
UINT TipString(TrayTip tip) {
    switch (tip) {
    case TrayTip::NetFault: return IDS_TIP_NETFAULT;
    case TrayTip::NewMessage: return IDS_TIP_NEWMESSAGE;
    case TrayTip::Normal: break;
    }
    return IDS_TIP_NORMAL;
}

HICON LoadTrayIcon(int id) {
    // The small-icon size of the system, so the tray stays sharp at any DPI.
    return static_cast<HICON>(LoadImageW(AppInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}
}  // namespace

CMainFrame::CMainFrame(COrlimoApp& app) : app_(app), poller_(*this, app.settings) {}

CMainFrame::~CMainFrame() {
    if (hwnd_) DestroyWindow(hwnd_);
}

bool CMainFrame::Create() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &CMainFrame::StaticWndProc;
    wc.hInstance = AppInstance();
    wc.hIcon = LoadIconW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kFrameClassName;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    std::wstring title = LoadStr(IDS_APP_TITLE);
    HMENU menu = LoadMenuW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    HWND hwnd = CreateWindowExW(0, kFrameClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                nullptr, menu, AppInstance(), this);
    if (!hwnd) {
        if (menu) DestroyMenu(menu);
        return false;
    }
    return true;
}

LRESULT CALLBACK CMainFrame::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    CMainFrame* self;
    if (msg == WM_NCCREATE) {
        self = static_cast<CMainFrame*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<CMainFrame*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    LRESULT result = self->WindowProc(msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE:
        return OnCreate();
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_TIMER:
        OnTimer(wp);
        return 0;
    case kFetchDoneMessage:
        OnFetchDone(static_cast<unsigned>(wp));
        return 0;
    case kNetworkChangedMessage:
        WatchNetworkAgain();
        poller_.OnNetworkChanged();
        return 0;
    case WM_POWERBROADCAST:
        // Woken from sleep (by itself, or by the user): fresh news soon.
        if (wp == PBT_APMRESUMEAUTOMATIC || wp == PBT_APMRESUMESUSPEND) poller_.OnWake();
        return TRUE;
    case WM_SYSCOMMAND:
        if (wp == SC_MINIMIZE) {
            ShowWindow(hwnd_, SW_HIDE);
            return 0;
        }
        break;
    case WM_INITMENUPOPUP:
        if (!HIWORD(lp)) UpdateMenuItems(reinterpret_cast<HMENU>(wp), true);
        return 0;
    case WM_COMMAND:
        if (lp == 0 || HIWORD(wp) == 0) {
            if (app_.OnCmdMsg(LOWORD(wp))) return 0;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(hwnd_);
        return 0;
    case WM_SETTINGCHANGE:
        // Sent to every top-level window after each Group Policy refresh.
        if (lp && lstrcmpiW(reinterpret_cast<const wchar_t*>(lp), L"Policy") == 0) app_.OnPolicyChange();
        break;
    case WM_QUERYENDSESSION:
        return TRUE;  // nothing is ever left unsaved
    case WM_ENDSESSION:
        // Logoff, shutdown, or Restart Manager closing the program for an
        // installer: the icon goes and the process ends at once, whatever is
        // open (a dialog, a prompt, the menu, a poll). Settings are saved
        // when the user saves them; nothing here is waiting to be written.
        if (wp) {
            Shell_NotifyIconW(NIM_DELETE, &m_nid);
            TerminateProcess(GetCurrentProcess(), 0);
        }
        return 0;
    default:
        if (msg == kTrayCallbackMessage) {
            switch (lp) {
            case WM_LBUTTONDBLCLK:
                // One page for one double click, however the shell reports it.
                if (activation_.Take(GetTickCount(), GetDoubleClickTime())) LaunchAddress(LoginUrl(app_.settings));
                break;
            case WM_RBUTTONDOWN:
            case WM_LBUTTONDOWN:
                PopupTrayMenu();
                break;
            default:
                break;
            }
        } else if (taskbar_created_ && msg == taskbar_created_) {
            // The shell was restarted: its notification area has forgotten us.
            AddTrayIcon();
            return 0;
        } else if (OnSessionMessage(msg, wp)) {
            return 0;
        }
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

int CMainFrame::OnCreate() {
    poller_.OnFrameCreated();
    SetTimer(hwnd_, kPollTimerId, 1000, nullptr);

    taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
    if (taskbar_created_) AllowFromBelow(taskbar_created_);
    show_running_ = ShowRunningMessage();
    autorun_changed_ = AutorunChangedMessage();
    // A second start that is not elevated reaches an elevated orlimo too.
    AllowFromBelow(show_running_);
    AllowFromBelow(autorun_changed_);
    WatchNetwork(hwnd_, kNetworkChangedMessage);

    m_nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    m_nid.hWnd = hwnd_;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = kTrayCallbackMessage;
    lstrcpynW(m_nid.szTip, LoadStr(IDS_TIP_NORMAL).c_str(), ARRAYSIZE(m_nid.szTip));
    m_nid.uID = kTrayIconId;
    last_icon_ = kIconNormal;
    AddTrayIcon();
    return 0;
}

bool CMainFrame::NotifyWithIcon(DWORD message, int icon_id) {
    last_icon_ = icon_id;
    m_nid.hIcon = LoadTrayIcon(icon_id);
    const bool done = Shell_NotifyIconW(message, &m_nid) != FALSE;
    // The shell keeps its own copy of the icon.
    if (m_nid.hIcon) DestroyIcon(m_nid.hIcon);
    m_nid.hIcon = nullptr;
    return done;
}

void CMainFrame::AddTrayIcon() {
    // m_nid keeps the last tooltip; show the icon that went with it. A shell
    // that does not answer yet (Explorer busy at logon) is asked again.
    if (!NotifyWithIcon(NIM_ADD, last_icon_)) ArmTrayRetry();
}

void CMainFrame::ArmTrayRetry() {
    // Armed once: a blinking icon's failing change every second must not
    // put the retry off again and again.
    if (tray_retry_armed_) return;
    tray_retry_armed_ = SetTimer(hwnd_, kTrayRetryTimerId, kTrayRetryMs, nullptr) != 0;
}

void CMainFrame::RetryTrayIcon() {
    // An add that timed out may still have been made: then the icon is there
    // and takes the picture and tooltip of now.
    if (NotifyWithIcon(NIM_MODIFY, last_icon_) || NotifyWithIcon(NIM_ADD, last_icon_)) {
        KillTimer(hwnd_, kTrayRetryTimerId);
        tray_retry_armed_ = false;
    }
}

void CMainFrame::ShowRunningBalloon() {
    // A short balloon at the icon. Its own record in the size that carries
    // balloons; m_nid stays the first size, and the icon and tooltip are
    // left as they are.
    NOTIFYICONDATAW nid = {};
    nid.cbSize = NOTIFYICONDATAW_V2_SIZE;
    nid.hWnd = hwnd_;
    nid.uID = kTrayIconId;
    nid.uFlags = NIF_INFO;
    lstrcpynW(nid.szInfo, LoadStr(IDS_ALREADY_RUNNING).c_str(), ARRAYSIZE(nid.szInfo));
    lstrcpynW(nid.szInfoTitle, LoadStr(IDS_APP_TITLE).c_str(), ARRAYSIZE(nid.szInfoTitle));
    nid.uTimeout = 10000;
    nid.dwInfoFlags = NIIF_INFO;
    Shell_NotifyIconW(NIM_MODIFY, &nid);
}

bool CMainFrame::OnSessionMessage(UINT msg, WPARAM wp) {
    if (!msg) return false;
    if (msg == show_running_) {
        ShowRunningBalloon();
    } else if (msg == autorun_changed_) {
        // Changed by the elevated start this one offered; the mark shows
        // what the registry holds now (whoever sent the message).
        app_.ReadAutorunState();
    } else {
        return false;
    }
    return true;
}

void CMainFrame::OnDestroy() {
    KillTimer(hwnd_, kPollTimerId);
    // A running fetch is left behind, not waited for: the process ends
    // without it, and a late result is not acted on.
    poller_.Stop();
    KillTimer(hwnd_, kFetchDeadlineTimerId);
    KillTimer(hwnd_, kTrayRetryTimerId);
    tray_retry_armed_ = false;
    fetcher_.Finish();
    Shell_NotifyIconW(NIM_DELETE, &m_nid);
    poller_.StopBlinking();
    if (AppMainWindow() == hwnd_) PostQuitMessage(0);
}

void CMainFrame::OnTimer(UINT_PTR id) {
    if (id == kTrayRetryTimerId) {
        RetryTrayIcon();
        return;
    }
    if (id == kFetchDeadlineTimerId) {
        // No answer in time: the fetch ends now with what it has.
        KillTimer(hwnd_, kFetchDeadlineTimerId);
        if (fetcher_.Running()) poller_.OnFetchResult(fetcher_.Finish());
        return;
    }
    poller_.OnTimer(static_cast<int>(id));
}

void CMainFrame::OnFetchDone(unsigned number) {
    // A worker given up at its deadline may still report; only the running
    // fetch's own report counts.
    if (!fetcher_.Running() || number != fetcher_.Number()) return;
    KillTimer(hwnd_, kFetchDeadlineTimerId);
    poller_.OnFetchResult(fetcher_.Finish());
}

int CMainFrame::SetTrayIcon(int icon_id, const std::wstring& tip) {
    lstrcpynW(m_nid.szTip, tip.c_str(), ARRAYSIZE(m_nid.szTip));
    m_nid.uID = kTrayIconId;
    // No icon to change (the shell lost it or never took it): added again.
    if (!NotifyWithIcon(NIM_MODIFY, icon_id)) ArmTrayRetry();
    return 0;
}

void CMainFrame::PopupTrayMenu() {
    SetForegroundWindow(hwnd_);
    HMENU menu = LoadMenuW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    if (!menu) return;
    HMENU popup = GetSubMenu(menu, 0);
    POINT pt = {};
    GetCursorPos(&pt);
    if (popup) TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_, nullptr);
    // Lets the menu close properly when the user clicks elsewhere.
    PostMessageW(hwnd_, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void CMainFrame::UpdateMenuItems(HMENU menu, bool recurse) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
        if (info.hSubMenu) {
            if (recurse) UpdateMenuItems(info.hSubMenu, true);
            continue;
        }
        if (info.fType & MFT_SEPARATOR) continue;
        CCmdUI ui(menu, static_cast<UINT>(i), info.wID);
        // An item whose update handler left its state alone is enabled
        // exactly when its command has a handler.
        app_.OnUpdateCmdUI(ui);
        if (!ui.EnableChanged()) ui.Enable(app_.HasCommandHandler(info.wID));
    }
}

bool CMainFrame::StartFetch(const std::string& url) {
    if (!fetcher_.Start(url, hwnd_, kFetchDoneMessage)) return false;
    SetTimer(hwnd_, kFetchDeadlineTimerId, kFetchDeadlineMs, nullptr);
    return true;
}

void CMainFrame::SetTrayIcon(int icon_id, TrayTip tip) { SetTrayIcon(icon_id, LoadStr(TipString(tip))); }

void CMainFrame::StartBlinkTimer() { SetTimer(hwnd_, kBlinkTimerId, 1000, nullptr); }
void CMainFrame::StopBlinkTimer() { KillTimer(hwnd_, kBlinkTimerId); }

void CMainFrame::ShowNewMessagePrompt() {
    CNewMessageDlg dlg(app_, poller_);
    dlg.DoModal();
    poller_.OnMessagePromptClosed();
}

void CMainFrame::ShowUpdatePrompt() {
    CUpdateDlg dlg(app_);
    dlg.DoModal();
}

void CMainFrame::ShowOtherTimerMessage() { AppMessageBox(IDS_OTHER_TIMER); }

bool CMainFrame::UserCanBeDisturbed() { return UserCanBeDisturbedNow(); }

}  // namespace orlimo
