// The autorun value: "orlimo" under the Run key, written, removed and looked
// up.
#pragma once
#include <windows.h>

#include <cstdint>

namespace orlimo {

// Defined here, not in registry.cpp: the installer's custom actions write
// the same value with their own code and link none of these functions (a
// DLL keeps every function of each object it links).
inline const char kRunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const char kRunValueName[] = "orlimo";
// The Run value's data: kInstalledProgram in quotes, so that Windows does
// not try "c:\Program.exe" first (the path holds a blank).
inline const char kRunValueData[] = "\"c:\\Program Files\\orlimo\\orlimo.exe\"";

// 0 when the value was written / deleted, 1 otherwise. view 0 is the
// program's own registry view, else KEY_WOW64_32KEY or KEY_WOW64_64KEY.
int32_t SetRunValue(HKEY root, const char* key_path, const char* value_name, const char* data,
                    REGSAM view = 0);
int32_t DeleteRunValue(HKEY root, const char* key_path, const char* value_name, REGSAM view = 0);
// Whether the value exists, whatever its data.
bool RunValuePresent(HKEY root, const char* key_path, const char* value_name, REGSAM view = 0);

// On 64-bit Windows the registry view that is not this module's own (the
// 32-bit one for x64 code, the 64-bit one for i686 code): where the other
// architecture's program or package keeps its Run value. 0 where there is
// one view only. Inline: the custom actions use it too.
inline REGSAM OtherRegistryView() {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    // A 32-bit module sees a second view only under WOW64 (XP SP2 and later
    // have the call; on 32-bit Windows the flags would name its own view).
    using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto is_wow64 = kernel ? reinterpret_cast<IsWow64>(GetProcAddress(kernel, "IsWow64Process")) : nullptr;
    BOOL wow64 = FALSE;
    return is_wow64 && is_wow64(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
#endif
}

// The registry view in which both programs read their policies on 64-bit
// Windows: the 64-bit one (where the x64 policy editor and Intune write);
// on 32-bit Windows the only one.
inline REGSAM PolicyRegistryView() {
#ifdef _WIN64
    return KEY_WOW64_64KEY;
#else
    return OtherRegistryView();
#endif
}

}  // namespace orlimo
