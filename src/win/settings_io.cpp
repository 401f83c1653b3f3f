#include "win/settings_io.h"

#include <windows.h>

#include <vector>

#include <shlobj.h>

#include "resource.h"
#include "win/atomic_file.h"
#include "win/framework.h"

namespace orlimo {

const char kSettingsName[] = "config.properties";

bool CanOpenForReading(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

std::string GetLogonUserName() {
    char name[1024] = {};
    DWORD size = sizeof(name);
    if (!GetUserNameA(name, &size)) return "111";
    return std::string(name);
}

std::string UserSettingsFolder() {
    char appdata[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appdata) != S_OK ||
        !appdata[0])
        return std::string();
    return std::string(appdata) + "\\orlimo\\";
}

std::string ResolveSettingsPath(const std::string& folder, const std::string& user_folder) {
    const std::string per_user_name = GetLogonUserName() + "." + kSettingsName;
    const std::string per_user = folder + per_user_name;
    const std::string own = user_folder.empty() ? std::string() : user_folder + per_user_name;
    const std::string shared = folder + kSettingsName;
    // The user's own file first: an elevated start (the deploying
    // administrator's, or "Run as administrator") may have left one in the
    // install folder that later, unelevated starts cannot save to; a Save
    // then writes this one instead (SaveSettings).
    if (!own.empty() && CanOpenForReading(own)) return own;
    if (CanOpenForReading(per_user)) return per_user;
    // A new user: the copy goes beside the shared file when the install
    // folder takes it (an administrator, or a system without UAC), else
    // into the user's own folder.
    CopyFileA(shared.c_str(), per_user.c_str(), FALSE);
    if (CanOpenForReading(per_user)) return per_user;
    if (!own.empty()) {
        CreateDirectoryA(user_folder.c_str(), nullptr);
        CopyFileA(shared.c_str(), own.c_str(), FALSE);
        if (CanOpenForReading(own)) return own;
    }
    if (CanOpenForReading(shared)) return shared;
    return kSettingsName;
}

bool ReadSettingsFile(const std::string& path, Settings* settings, BookmarkList* bookmarks) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // The file's bytes go to the core's reader as they come.
    SettingsReader reader(settings, bookmarks);
    std::vector<char> buffer(64 * 1024);
    DWORD got = 0;
    while (ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
        reader.Feed(buffer.data(), got);
    CloseHandle(h);
    reader.Finish();
    return true;
}

void LoadSettings(const std::string& path, Settings* settings, BookmarkList* bookmarks) {
    if (!ReadSettingsFile(path, settings, bookmarks)) AppMessageBox(IDS_NO_SETTINGS_FILE);
}

bool WriteSettingsFile(const std::string& path, const std::string& server, int32_t user_id,
                       int32_t interval_time, int32_t server_port, const std::string& bookmark) {
    return ReplaceFileAtomically(path, FormatSettingsFile(server, user_id, interval_time, server_port, bookmark));
}

std::string SaveSettings(const std::string& path, const std::string& server, int32_t user_id,
                         int32_t interval_time, int32_t server_port, const std::string& bookmark,
                         const std::string& user_folder) {
    if (WriteSettingsFile(path, server, user_id, interval_time, server_port, bookmark)) return path;
    const std::string own = user_folder.empty() ? std::string() : user_folder + GetLogonUserName() + "." + kSettingsName;
    if (!own.empty() && own != path) {
        CreateDirectoryA(user_folder.c_str(), nullptr);
        if (WriteSettingsFile(own, server, user_id, interval_time, server_port, bookmark)) return own;
    }
    AppMessageBox(IDS_SAVE_FAILED);
    return std::string();
}

}  // namespace orlimo
