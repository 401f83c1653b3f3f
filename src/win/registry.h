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

// On 64-bit Windows the registry view that is not the program's own (the
// 32-bit one for the x64 program, the 64-bit one for the i686 program):
// where the other architecture's program or package keeps its Run value.
// 0 where there is one view only.
REGSAM OtherRegistryView();

}  // namespace orlimo
