// The program's installation of itself on its first start.
#pragma once
#include <string>

namespace orlimo {

// "c:\Program Files\orlimo\" (with the trailing backslash).
extern const char install_folder[];
extern const char kInstalledProgram[];  // install_folder + "orlimo.exe"

// One-time installation into folder, decided by folder + "lock.file".
void InstallSelf(const std::string& folder = install_folder);

}  // namespace orlimo
