// Settings file access, self-installation and the autorun value.
#pragma once
#include <windows.h>

#include <string>

#include "core/settings.h"

namespace orlimo {

// "c:\Program Files\orlimo\" (with the trailing backslash).
extern const char install_folder[];
extern const char kRunKeyPath[];
extern const char kRunValueName[];
extern const char kInstalledProgram[];  // install_folder + "orlimo.exe"
// The Run value's data: kInstalledProgram in quotes, so that Windows does
// not try "c:\Program.exe" first (the path holds a blank).
extern const char kRunValueData[];

// The logged-on user's name, "111" when it cannot be read.
std::string GetLogonUserName();

// The user's own folder for a per-user settings file when the install
// folder does not take one (a standard user's case): the roaming
// application-data folder's "orlimo\" (not created here); empty when unknown.
std::string UserSettingsFolder();

// The settings file to use, first of: the per-user file in user_folder; the
// per-user file in folder; a copy of the shared file made as the per-user
// file in folder, else in user_folder (created on demand); the shared
// file; the bare name.
std::string ResolveSettingsPath(const std::string& folder = install_folder,
                                const std::string& user_folder = UserSettingsFolder());

// Reads the file into settings and bookmarks; false when it cannot be
// opened (nothing changes then).
bool ReadSettingsFile(const std::string& path, Settings* settings, BookmarkList* bookmarks);
// ReadSettingsFile, with the message box when the file cannot be opened.
void LoadSettings(const std::string& path, Settings* settings, BookmarkList* bookmarks);

// Replaces the file at path with data: writes a temporary file beside it,
// flushes it and moves it over the target. On failure the target is left
// as it was and the temporary file removed; a read-only target is not
// replaced.
bool ReplaceFileAtomically(const std::string& path, const std::string& data);

// Writes the five-line file through ReplaceFileAtomically.
bool WriteSettingsFile(const std::string& path, const std::string& server, int32_t user_id,
                       int32_t interval_time, int32_t server_port, const std::string& bookmark);
// WriteSettingsFile; when path refuses it (a per-user file in the install
// folder that an elevated start made, which a standard user cannot
// replace), the per-user file in user_folder instead (the folder created),
// which ResolveSettingsPath finds first from then on; the file at path
// stays as it is. With the message box when nothing could be written.
// The file written, empty when none.
std::string SaveSettings(const std::string& path, const std::string& server, int32_t user_id,
                         int32_t interval_time, int32_t server_port, const std::string& bookmark,
                         const std::string& user_folder = UserSettingsFolder());

// 0 when the value was written / deleted, 1 otherwise.
int32_t SetRunValue(HKEY root, const char* key_path, const char* value_name, const char* data);
int32_t DeleteRunValue(HKEY root, const char* key_path, const char* value_name);
// Whether the value exists, whatever its data.
bool RunValuePresent(HKEY root, const char* key_path, const char* value_name);

// One-time installation into folder, decided by folder + "lock.file".
void InstallSelf(const std::string& folder = install_folder);

}  // namespace orlimo
