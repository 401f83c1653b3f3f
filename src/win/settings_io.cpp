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

const char kSharedRecordSuffix[] = ".shared";
const char kEarlierSharedName[] = "config.properties.previous";

namespace {

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

std::string AnsiToUtf8(const std::string& text) { return WideToUtf8(AnsiToWide(text)); }

Settings ValuesOf(const std::string& text) {
    Settings s;
    BookmarkList unused;
    ApplySettingsText(text, &s, &unused);
    return s;
}

// A settings file's values and how it is written; false when unreadable.
bool ReadForm(const std::string& path, std::string* bytes, std::string* text, SettingsForm* form) {
    if (!ReadFileBytes(path, bytes)) return false;
    *text = SettingsText(*bytes, &form->encoding);
    form->read = ValuesOf(*text);
    form->written = form->encoding == FileEncoding::Utf8 ? ValuesOf(*bytes) : form->read;
    return true;
}

std::string OwnFile(const std::string& user_folder) {
    return user_folder.empty() ? std::string() : user_folder + GetLogonUserName() + "." + kSettingsName;
}

// A text value for a UTF-8 file: as a UTF-8 file that read it held it,
// when one did; else converted.
std::string AsWritten(const std::string& value, std::string Settings::*field, const SettingsForm& form,
                      const SettingsForm* also) {
    if (form.encoding == FileEncoding::Utf8 && form.read.*field == value) return form.written.*field;
    if (also && also->encoding == FileEncoding::Utf8 && also->read.*field == value) return also->written.*field;
    return AnsiToUtf8(value);
}

}  // namespace

std::string SettingsText(const std::string& bytes, FileEncoding* encoding) {
    if (!HasUtf8Mark(bytes)) {
        *encoding = FileEncoding::Ansi;
        return bytes;
    }
    *encoding = FileEncoding::Utf8;
    // UTF-8 never uses a LF inside a character, so lines stay as they were;
    // a character the code page lacks becomes its default character.
    return WideToAnsi(Utf8ToWide(bytes.substr(3)));
}

std::string EncodeSettingsFile(const Settings& values, const SettingsForm& form, const SettingsForm* also) {
    if (form.encoding == FileEncoding::Ansi)
        return FormatSettingsFile(values.server, values.user_id, values.interval_time, values.server_port,
                                  values.bookmark);
    return kUtf8Mark + FormatSettingsFile(AsWritten(values.server, &Settings::server, form, also), values.user_id,
                                          values.interval_time, values.server_port,
                                          AsWritten(values.bookmark, &Settings::bookmark, form, also));
}

bool ReadSettingsFile(const std::string& path, Settings* settings, BookmarkList* bookmarks,
                      SettingsForm* form) {
    std::string bytes, text;
    SettingsForm read_form;
    if (!ReadForm(path, &bytes, &text, &read_form)) return false;
    ApplySettingsText(text, settings, bookmarks);
    if (form) *form = read_form;
    return true;
}

bool LoadSettings(const std::string& path, Settings* settings, BookmarkList* bookmarks, SettingsForm* form) {
    if (ReadSettingsFile(path, settings, bookmarks, form)) return true;
    AppMessageBox(IDS_NO_SETTINGS_FILE);
    return false;
}

void FollowSharedSettings(std::string* path, Settings* settings, BookmarkList* bookmarks, SettingsForm* form,
                          const std::string& folder, const std::string& user_folder) {
    const std::string shared_path = folder + kSettingsName;
    if (*path == shared_path || *path == kSettingsName) return;
    std::string shared_bytes, shared_text;
    SettingsForm shared_form;
    if (!ReadForm(shared_path, &shared_bytes, &shared_text, &shared_form)) return;
    const std::optional<Settings> shared = SharedSettingsValues(shared_text);
    if (!shared) return;  // garbage, or not a settings file: nothing changes

    // What the shared file said when the user's values were last brought in
    // line with it; for a copy made before records, the earlier shared file
    // the package kept. Neither: every value is the user's own.
    const std::string record = *path + kSharedRecordSuffix;
    std::string record_bytes, bytes, text;
    SettingsForm unused;
    std::optional<Settings> base;
    if (ReadForm(record, &record_bytes, &text, &unused)) base = SharedSettingsValues(text);
    else record_bytes.clear();
    if (!base && ReadForm(folder + kEarlierSharedName, &bytes, &text, &unused)) base = SharedSettingsValues(text);

    const Settings merged = base ? FollowShared(*settings, *base, *shared) : *settings;
    const bool changed = !SameSettings(merged, *settings);
    if (!changed && record_bytes == shared_bytes) return;
    const std::string file = EncodeSettingsFile(merged, *form, &shared_form);
    auto write_both = [&](const std::string& target, bool with_file) {
        return (!with_file || ReplaceFileAtomically(target, file)) &&
               ReplaceFileAtomically(target + kSharedRecordSuffix, shared_bytes);
    };
    if (!write_both(*path, changed)) {
        const std::string own = OwnFile(user_folder);
        if (!own.empty() && own != *path) {
            CreateDirectoryA(user_folder.c_str(), nullptr);
            if (write_both(own, true)) *path = own;
        }
        // Nothing could be kept: the values are in force for this run, and
        // the next start tries again.
    }
    if (changed) {
        // In force from now on, as if read from the file.
        *settings = merged;
        bookmarks->SplitBookmarks(merged.bookmark);
        form->read = merged;
        form->written = form->encoding == FileEncoding::Utf8 ? ValuesOf(file) : merged;
    }
}

bool WriteSettingsFile(const std::string& path, const std::string& server, int32_t user_id,
                       int32_t interval_time, int32_t server_port, const std::string& bookmark) {
    return ReplaceFileAtomically(path, FormatSettingsFile(server, user_id, interval_time, server_port, bookmark));
}

std::string SaveSettings(const std::string& path, const std::string& server, int32_t user_id,
                         int32_t interval_time, int32_t server_port, const std::string& bookmark,
                         const std::string& user_folder, const SettingsForm& form) {
    Settings values;
    values.server = server;
    values.user_id = user_id;
    values.interval_time = interval_time;
    values.server_port = server_port;
    values.bookmark = bookmark;
    const std::string bytes = EncodeSettingsFile(values, form);
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
