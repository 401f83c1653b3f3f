#include "win/settings_io.h"

#include <windows.h>

#include <vector>

#include <shlobj.h>

#include "resource.h"
#include "win/atomic_file.h"
#include "win/fetch.h"
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

const char kSharedRecordSuffix[] = ".shared";
const char kEarlierSharedName[] = "config.properties.previous";

namespace {

std::string OwnFile(const std::string& user_folder) {
    return user_folder.empty() ? std::string() : user_folder + GetLogonUserName() + "." + kSettingsName;
}

std::optional<std::string> FileBytes(const std::string& path) {
    std::string bytes;
    if (!ReadFileBytes(path, &bytes)) return std::nullopt;
    return bytes;
}

// Text in another code page, or nothing when a character would be lost.
std::optional<std::string> Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty()) return text;
    const int n = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0], n);
    // UTF-8 takes neither the flag nor the question whether a default
    // character was used (nor does an ANSI code page that is UTF-8).
    const bool utf8 = to == CP_UTF8 || GetACP() == CP_UTF8;
    BOOL lossy = FALSE;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int m = WideCharToMultiByte(to, flags, wide.data(), n, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
    if (m <= 0 || lossy) return std::nullopt;
    std::string out(static_cast<size_t>(m), '\0');
    WideCharToMultiByte(to, flags, wide.data(), n, &out[0], m, nullptr, utf8 ? nullptr : &lossy);
    if (lossy) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::string> CodePageConverter::NativeToUtf8(const std::string& text) const {
    return Convert(text, CP_ACP, CP_UTF8);
}

std::optional<std::string> CodePageConverter::Utf8ToNative(const std::string& text) const {
    return Convert(text, CP_UTF8, CP_ACP);
}

UINT CodePageOf(FileEncoding encoding) { return IsUtf8Encoding(encoding) ? CP_UTF8 : CP_ACP; }

bool ReadFileBytes(const std::string& path, std::string* bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    std::vector<char> buffer(64 * 1024);
    DWORD got = 0;
    while (ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
        bytes->append(buffer.data(), got);
    CloseHandle(h);
    return true;
}

bool LoadSettings(const std::string& path, std::string* bytes) {
    if (ReadFileBytes(path, bytes)) return true;
    AppMessageBox(IDS_NO_SETTINGS_FILE);
    return false;
}

void FollowSharedSettings(std::string* path, std::string* user_bytes, const std::string& folder,
                          const std::string& user_folder) {
    const std::string shared_path = folder + kSettingsName;
    if (*path == shared_path || *path == kSettingsName) return;
    const std::string record = *path + kSharedRecordSuffix;
    const FollowResult r = FollowSharedFile(
        {*user_bytes, FileBytes(record), FileBytes(folder + kEarlierSharedName), FileBytes(shared_path), shared_path},
        CodePageConverter());
    for (const std::string& reason : r.reasons) WriteLogLine(reason);
    if (r.user) *user_bytes = *r.user;  // in force from now on, as if read from the file
    if (!r.user && !r.record) return;
    const std::string record_bytes = r.record ? *r.record : FileBytes(record).value_or(std::string());
    // The user's file first: should the record not follow, the next start
    // takes the new values for the user's own and brings the record along.
    auto write = [&](const std::string& target, bool file, bool with_record) {
        return (!file || ReplaceFileAtomically(target, *user_bytes)) &&
               (!with_record || ReplaceFileAtomically(target + kSharedRecordSuffix, record_bytes));
    };
    if (write(*path, r.user.has_value(), r.record.has_value())) return;
    const std::string own = OwnFile(user_folder);
    if (!own.empty() && own != *path) {
        CreateDirectoryA(user_folder.c_str(), nullptr);
        if (write(own, true, true)) {
            *path = own;
            return;
        }
    }
    WriteLogLine(*path + ": the user's settings could not be written; the shared file's values are in force "
                 "until the program ends, and the next start tries again");
}

std::string SaveSettings(const std::string& path, const std::string& bytes, const std::string& user_folder) {
    if (ReplaceFileAtomically(path, bytes)) return path;
    const std::string own = OwnFile(user_folder);
    if (!own.empty() && own != path) {
        CreateDirectoryA(user_folder.c_str(), nullptr);
        if (ReplaceFileAtomically(own, bytes)) {
            // The record of the shared file goes with the user's values.
            CopyFileA((path + kSharedRecordSuffix).c_str(), (own + kSharedRecordSuffix).c_str(), FALSE);
            return own;
        }
    }
    AppMessageBox(IDS_SAVE_FAILED);
    return std::string();
}

}  // namespace orlimo
