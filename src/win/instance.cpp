#include "win/instance.h"

#include <shellapi.h>

#include "win/frame.h"

namespace orlimo {

namespace {

// How long a later start looks for the running orlimo's window (it may be
// starting itself) and waits for it to end when taking over.
constexpr DWORD kFindFrameMs = 5000;
constexpr DWORD kHandOverMs = 10000;

HWND FindRunningFrame() {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND frame = FindWindowW(kFrameClassName, nullptr)) return frame;
        if (GetTickCount() - start >= kFindFrameMs) return nullptr;
        Sleep(100);
    }
}

// The user that a process runs as, compared with this one's: an elevated
// start may run under an administrator's account (the user typed another
// account's password at the UAC prompt), whose settings are not the user's.
bool SameUserAs(DWORD pid) {
    bool same = false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    HANDLE theirs = nullptr, ours = nullptr;
    if (process && OpenProcessToken(process, TOKEN_QUERY, &theirs) &&
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &ours)) {
        union {
            TOKEN_USER user;
            BYTE bytes[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
        } a, b;
        DWORD size = 0;
        same = GetTokenInformation(theirs, TokenUser, &a, sizeof a, &size) &&
               GetTokenInformation(ours, TokenUser, &b, sizeof b, &size) &&
               EqualSid(a.user.User.Sid, b.user.User.Sid);
    }
    if (theirs) CloseHandle(theirs);
    if (ours) CloseHandle(ours);
    if (process) CloseHandle(process);
    return same;
}

}  // namespace

UINT ShowRunningMessage() { return RegisterWindowMessageW(L"orlimo.notifier.show"); }
UINT HandOverMessage() { return RegisterWindowMessageW(L"orlimo.notifier.handover"); }
UINT AutorunChangedMessage() { return RegisterWindowMessageW(L"orlimo.notifier.autorun"); }

void AllowFromBelow(UINT message) {
    using Filter = BOOL(WINAPI*)(UINT, DWORD);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto filter = user32 ? reinterpret_cast<Filter>(GetProcAddress(user32, "ChangeWindowMessageFilter")) : nullptr;
    if (filter && message) filter(message, 1 /* MSGFLT_ADD */);
}

bool ClaimSession(bool autorun_request, int32_t autorun_flag) {
    // The name lives in the session's own namespace, so each Remote Desktop
    // or fast-user-switching session has its own orlimo. The handle is held
    // until the process ends: the name stays taken while this one runs,
    // also once a predecessor that made it has ended.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\orlimo.notifier");
    const DWORD error = GetLastError();
    if (mutex && error != ERROR_ALREADY_EXISTS) return true;
    // Refused: an elevated orlimo of this session holds it. Any other
    // failure to make it: behave as the only one.
    if (!mutex && error != ERROR_ACCESS_DENIED) return true;

    HWND running = FindRunningFrame();
    if (!running) {
        if (mutex) CloseHandle(mutex);
        return false;  // it has no window yet, or is ending: nothing to show
    }
    if (!autorun_request) {
        PostMessageW(running, ShowRunningMessage(), 0, 0);
        if (mutex) CloseHandle(mutex);
        return false;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(running, &pid);
    if (!SameUserAs(pid)) {
        PostMessageW(running, AutorunChangedMessage(), autorun_flag ? 1 : 0, 0);
        if (mutex) CloseHandle(mutex);
        return false;
    }
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    PostMessageW(running, HandOverMessage(), 0, 0);
    const bool ended = process && WaitForSingleObject(process, kHandOverMs) == WAIT_OBJECT_0;
    if (process) CloseHandle(process);
    if (!ended) {
        if (mutex) CloseHandle(mutex);
        return false;  // it did not go: two would run
    }
    // An elevated predecessor's name went with it; one it made is ours now.
    if (!mutex) mutex = CreateMutexW(nullptr, FALSE, L"Local\\orlimo.notifier");
    return mutex != nullptr;
}

bool ProcessElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

bool StartElevated(const wchar_t* arguments) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = self;
    info.lpParameters = arguments;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}

}  // namespace orlimo
