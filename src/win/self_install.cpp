#include "win/self_install.h"

#include <windows.h>

#include "win/registry.h"
#include "win/settings_io.h"

namespace orlimo {

const char install_folder[] = "c:\\Program Files\\orlimo\\";
const char kInstalledProgram[] = "c:\\Program Files\\orlimo\\orlimo.exe";

void InstallSelf(const std::string& folder) {
    const std::string marker = folder + "lock.file";
    if (CanOpenForReading(marker)) return;
    CreateDirectoryA(folder.c_str(), nullptr);
    HANDLE lock = CreateFileA(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    // The program copied is the one running, not whatever "orlimo.exe" the
    // current folder may hold: the copy is what starts with Windows.
    char self[MAX_PATH * 4] = {};
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof(self));
    const std::string source = (n > 0 && n < sizeof(self)) ? std::string(self, n) : "orlimo.exe";
    CopyFileA(source.c_str(), (folder + "orlimo.exe").c_str(), FALSE);
    CopyFileA(kSettingsName, (folder + kSettingsName).c_str(), FALSE);
    SetRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName, ("\"" + folder + "orlimo.exe\"").c_str());
    // One Run value: not a second one of the other architecture's, which
    // would start the program it names as well.
    if (REGSAM other = OtherRegistryView()) DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName, other);
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
}

}  // namespace orlimo
