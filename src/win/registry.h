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

// 0 when the value was written / deleted, 1 otherwise.
int32_t SetRunValue(HKEY root, const char* key_path, const char* value_name, const char* data);
int32_t DeleteRunValue(HKEY root, const char* key_path, const char* value_name);
// Whether the value exists, whatever its data.
bool RunValuePresent(HKEY root, const char* key_path, const char* value_name);

}  // namespace orlimo
