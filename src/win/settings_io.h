// The settings file: which one a user's start reads, reading it, and
// writing it (with a fallback for a file the user may not replace).
#pragma once
#include <string>

#include "core/settings.h"
#include "win/self_install.h"

namespace orlimo {

// The shared file's name; a per-user file is the user's name, a dot and this.
extern const char kSettingsName[];

// Whether the file can be opened for reading now.
bool CanOpenForReading(const std::string& path);

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

}  // namespace orlimo
