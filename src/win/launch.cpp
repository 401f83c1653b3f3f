#include "win/launch.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "core/portal.h"
#include "win/framework.h"

namespace orlimo {

namespace {

DWORD WINAPI OpenOnShell(LPVOID param) {
    wchar_t* address = static_cast<wchar_t*>(param);
    // The shell may hand the address over by COM or DDE: a single-threaded
    // apartment of this thread's own.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // No error boxes of the shell's; finish the hand-over before the thread ends.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = address;
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
    if (SUCCEEDED(com)) CoUninitialize();
    delete[] address;
    return 0;
}

}  // namespace

bool LaunchAddress(const std::string& address) {
    if (!LaunchableAddress(address)) return false;
    const std::wstring wide = SettingsTextToWide(address);
    wchar_t* copy = new wchar_t[wide.size() + 1];
    wide.copy(copy, wide.size());
    copy[wide.size()] = L'\0';
    HANDLE thread = CreateThread(nullptr, 0, &OpenOnShell, copy, 0, nullptr);
    if (!thread) {
        delete[] copy;
        return false;
    }
    CloseHandle(thread);
    return true;
}

}  // namespace orlimo
