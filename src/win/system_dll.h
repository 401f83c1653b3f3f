// DLLs from the system folder only. Windows takes a KnownDLL from the
// system folder whatever lies elsewhere, but looks for any other DLL that a
// program imports or loads by name in the program's own folder first: a
// downloads folder, say, where a web page may have dropped one. So the
// program and the installer's custom actions import KnownDLLs only, and
// load every other DLL they need (WinINet, iphlpapi, msi.dll) with these.
// Header only: the program and the custom-action DLL share it.
#pragma once
#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace orlimo {

// Whether LoadLibraryExW takes the LOAD_LIBRARY_SEARCH_* flags: Windows 8
// and later, and Vista and 7 with update KB2533623, which brings
// AddDllDirectory with them (the documented test).
inline bool DllSearchFlagsKnown() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

// For the program's start, before any other DLL is loaded: from now on
// every DLL loaded by name in this process (by the program or by a system
// DLL on its behalf) comes from the system folder. Without
// SetDefaultDllDirectories (an older Windows) nothing changes, and
// LoadSystemDll below loads by full path. Not for a DLL inside another
// program's process (the custom actions): that process's search is its own.
inline void SearchDllsInSystemFolderOnly() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn set =
        kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(GetProcAddress(kernel, "SetDefaultDllDirectories"))
               : nullptr;
    if (set && DllSearchFlagsKnown()) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The system folder's DLL of this name (e.g. L"wininet.dll"), it and the
// DLLs it imports from there; null with GetLastError when it cannot be
// loaded. On a Windows without the search flags, by its full path, with
// the search for its own imports starting in its folder, not the program's.
inline HMODULE LoadSystemDll(const wchar_t* name) {
    if (DllSearchFlagsKnown()) return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    wchar_t path[MAX_PATH];
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n + 1 + lstrlenW(name) >= MAX_PATH) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    lstrcatW(path, L"\\");
    lstrcatW(path, name);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// An entry of a DLL loaded so: false when the DLL lacks it.
template <typename Function>
bool BindEntry(HMODULE module, const char* name, Function* entry) {
    FARPROC p = GetProcAddress(module, name);
    *entry = reinterpret_cast<Function>(p);
    return p != nullptr;
}

}  // namespace orlimo
