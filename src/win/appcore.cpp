#include "win/appcore.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <shlobj.h>

#include "resource.h"
#include "win/framework.h"

namespace orlimo {

const char install_folder[] = "c:\\Program Files\\orlimo\\";
const char kRunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValueName[] = "orlimo";
const char kInstalledProgram[] = "c:\\Program Files\\orlimo\\orlimo.exe";
const char kRunValueData[] = "\"c:\\Program Files\\orlimo\\orlimo.exe\"";

namespace {
const char kSettingsName[] = "config.properties";

bool CanOpenForReading(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool WriteAll(HANDLE h, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1 << 20));
        DWORD written = 0;
        if (!WriteFile(h, data.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}
}  // namespace

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

bool ReplaceFileAtomically(const std::string& path, const std::string& data) {
    // A read-only file is not replaced (opening it for writing would fail as
    // well); checked here because replacing by rename would not always notice.
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    const std::string temp = path + ".new";
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(h, data) && FlushFileBuffers(h);
    CloseHandle(h);
    if (ok) {
        ok = MoveFileExA(temp.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
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

int32_t SetRunValue(HKEY root, const char* key_path, const char* value_name, const char* data) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, key_path, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return 1;
    LONG rc = RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                             static_cast<DWORD>(strlen(data) + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

bool RunValuePresent(HKEY root, const char* key_path, const char* value_name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    LONG rc = RegQueryValueExA(key, value_name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

int32_t DeleteRunValue(HKEY root, const char* key_path, const char* value_name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, key_path, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return 1;
    LONG rc = RegDeleteValueA(key, value_name);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

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
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
}

}  // namespace orlimo
