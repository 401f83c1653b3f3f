#include "win/attention.h"

#include "win/system_dll.h"

namespace orlimo {

namespace {

// SHQueryUserNotificationState's answers that hold Windows' own
// notifications back (QUERY_USER_NOTIFICATION_STATE, Vista and later;
// quiet time since Windows 8, Focus Assist since Windows 10).
enum { kBusy = 2, kFullScreenDirect3D = 3, kPresentationMode = 4, kQuietTime = 6 };

bool WindowsHoldsNotificationsBack() {
    using Query = HRESULT(WINAPI*)(int*);
    // shell32 is imported already (the tray icon) and is a KnownDLL.
    HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
    auto query = shell32 ? reinterpret_cast<Query>(GetProcAddress(shell32, "SHQueryUserNotificationState")) : nullptr;
    int state = 0;
    if (!query || query(&state) != S_OK) return false;
    return state == kBusy || state == kFullScreenDirect3D || state == kPresentationMode || state == kQuietTime;
}

// A slide show, a full-screen video call or player, a shared screen: the
// window in front covers its whole monitor. Not the desktop or the shell
// (Progman and WorkerW draw the desktop, Shell_TrayWnd the taskbar), not
// one of ours, and not an ordinary maximised window with its title bar,
// which covers a monitor whose taskbar hides itself.
bool ForegroundCoversItsMonitor() {
    HWND front = GetForegroundWindow();
    if (!front || front == GetDesktopWindow() || front == GetShellWindow() || !IsWindowVisible(front)) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(front, &pid);
    if (pid == GetCurrentProcessId()) return false;
    wchar_t name[32] = {};
    GetClassNameW(front, name, 32);
    static const wchar_t* const kShell[] = {L"Progman", L"WorkerW", L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd"};
    for (const wchar_t* shell : kShell)
        if (lstrcmpW(name, shell) == 0) return false;
    if (IsZoomed(front) && (GetWindowLongW(front, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) return false;
    HMONITOR monitor = MonitorFromWindow(front, MONITOR_DEFAULTTONULL);
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    RECT r;
    if (!monitor || !GetMonitorInfoW(monitor, &info) || !GetWindowRect(front, &r)) return false;
    const RECT& m = info.rcMonitor;
    return r.left <= m.left && r.top <= m.top && r.right >= m.right && r.bottom >= m.bottom;
}

// The one request for address changes: NotifyAddrChange completes it
// through this event once, and is asked again after each report.
using NotifyAddrChangeFn = DWORD(WINAPI*)(PHANDLE, LPOVERLAPPED);
NotifyAddrChangeFn g_notify = nullptr;
OVERLAPPED g_change = {};
HANDLE g_wait = nullptr;
HWND g_target = nullptr;
UINT g_message = 0;

VOID CALLBACK OnAddressChange(PVOID, BOOLEAN) { PostMessageW(g_target, g_message, 0, 0); }

}  // namespace

bool UserCanBeDisturbedNow() { return !WindowsHoldsNotificationsBack() && !ForegroundCoversItsMonitor(); }

bool WatchNetwork(HWND target, UINT message) {
    if (g_notify) return true;
    // iphlpapi is no KnownDLL: from the system folder only, as WinINet.
    HMODULE iphlpapi = LoadSystemDll(L"iphlpapi.dll");
    NotifyAddrChangeFn notify = nullptr;
    if (!iphlpapi || !BindEntry(iphlpapi, "NotifyAddrChange", &notify)) return false;
    g_change.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!g_change.hEvent) return false;
    g_target = target;
    g_message = message;
    if (!RegisterWaitForSingleObject(&g_wait, g_change.hEvent, OnAddressChange, nullptr, INFINITE,
                                     WT_EXECUTEDEFAULT)) {
        CloseHandle(g_change.hEvent);
        g_change.hEvent = nullptr;
        return false;
    }
    g_notify = notify;
    WatchNetworkAgain();
    return true;
}

void WatchNetworkAgain() {
    if (!g_notify) return;
    HANDLE handle = nullptr;
    // Pending is the answer when all is well; any other leaves the watch
    // without a request, and no further change is reported.
    g_notify(&handle, &g_change);
}

}  // namespace orlimo
