// Helpers for the Win32 tests: scratch folders and files.
#pragma once
#include <windows.h>

#include <string>

namespace orlimo_test {

// A fresh, empty folder under the temp folder; path ends with "\".
std::string MakeScratchFolder(const char* tag);
std::string ReadFileBytes(const std::string& path, bool* ok = nullptr);
bool WriteFileBytes(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);

}  // namespace orlimo_test
