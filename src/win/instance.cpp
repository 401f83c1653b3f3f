#include "win/instance.h"

#include <shellapi.h>

#include "win/frame.h"

namespace orlimo {

namespace {

// How long a later start looks for the running orlimo's window (it may be
// starting itself).
constexpr DWORD kFindFrameMs = 5000;

HWND FindRunningFrame() {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND frame = FindWindowW(kFrameClassName, nullptr)) return frame;
        if (GetTickCount() - start >= kFindFrameMs) return nullptr;
        Sleep(100);
    }
}

}  // namespace

UINT ShowRunningMessage() { return RegisterWindowMessageW(L"orlimo.notifier.show"); }
UINT AutorunChangedMessage() { return RegisterWindowMessageW(L"orlimo.notifier.autorun"); }

void AllowFromBelow(UINT message) {
    using Filter = BOOL(WINAPI*)(UINT, DWORD);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto filter = user32 ? reinterpret_cast<Filter>(GetProcAddress(user32, "ChangeWindowMessageFilter")) : nullptr;
    if (filter && message) filter(message, 1 /* MSGFLT_ADD */);
}

bool ClaimSession(bool autorun_request) {
    // The name lives in the session's own namespace, so each Remote Desktop
    // or fast-user-switching session has its own orlimo. The handle is held
    // until the process ends.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\orlimo.notifier");
    const DWORD error = GetLastError();
    const bool first = (mutex && error != ERROR_ALREADY_EXISTS) ||
                       // Refused: an elevated orlimo of this session holds it. Any
                       // other failure to make it: behave as the only one.
                       (!mutex && error != ERROR_ACCESS_DENIED);
    // A start made only to change autorun never stays: an elevated orlimo
    // would open every page in an elevated browser all day. It tells the
    // running one, which shows the new state, and ends.
    if (first && !autorun_request) return true;
    if (HWND running = FindRunningFrame())
        PostMessageW(running, autorun_request ? AutorunChangedMessage() : ShowRunningMessage(), 0, 0);
    if (mutex) CloseHandle(mutex);
    return false;
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
