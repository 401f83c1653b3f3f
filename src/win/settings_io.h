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

// How a settings file is written: in the system's ANSI code page (as the
// program writes it), or in UTF-8 after a byte-order mark (an editor's
// "UTF-8"). Inside, the program holds ANSI text either way.
enum class FileEncoding { Ansi, Utf8 };

// What a file read holds, for writing it back the same way.
struct SettingsForm {
    FileEncoding encoding = FileEncoding::Ansi;
    Settings read;     // the values as the program holds them (ANSI text)
    Settings written;  // the same values as the file's bytes held them
};

// A settings file's bytes as the program's ANSI text: a file that begins
// with the UTF-8 mark is UTF-8 (mark dropped, converted); any other is taken
// byte for byte, as it always was.
std::string SettingsText(const std::string& bytes, FileEncoding* encoding);

// The bytes of the five-line file holding values, in form's encoding. For a
// UTF-8 file, text that equals what form (or `also`) read is written as its
// file held it, so that characters without a place in the ANSI code page
// survive a Save.
std::string EncodeSettingsFile(const Settings& values, const SettingsForm& form,
                               const SettingsForm* also = nullptr);

// Reads the file into settings and bookmarks (and how it is written into
// form); false when it cannot be opened (nothing changes then).
bool ReadSettingsFile(const std::string& path, Settings* settings, BookmarkList* bookmarks,
                      SettingsForm* form = nullptr);
// ReadSettingsFile, with the message box when the file cannot be opened.
bool LoadSettings(const std::string& path, Settings* settings, BookmarkList* bookmarks,
                  SettingsForm* form = nullptr);

// Beside a user's file, the copy of the shared file as the user's values
// were last brought in line with it: "<user file>.shared".
extern const char kSharedRecordSuffix[];
// In the install folder, the shared file as the installer package found it
// before it first changed it, which copies made before there were records
// were made from.
extern const char kEarlierSharedName[];

// Brings a user's values, read from *path into settings, bookmarks and
// form, in line with the shared file in folder: each value the user never
// set (it equals the record's, or without a record the earlier shared
// file's) takes the shared file's value, the others stay the user's own;
// with neither, every value is the user's own. The user's file is rewritten
// when a value changed and the record when the shared file did; when the
// user's folder refuses them (a file in the install folder that a standard
// user cannot replace), both are written as the user's own file in
// user_folder, which *path then names. A shared file that cannot be read or
// holds no server changes nothing. Nothing happens when *path is the
// shared file itself.
void FollowSharedSettings(std::string* path, Settings* settings, BookmarkList* bookmarks, SettingsForm* form,
                          const std::string& folder = install_folder,
                          const std::string& user_folder = UserSettingsFolder());

// Writes the five-line file through ReplaceFileAtomically.
bool WriteSettingsFile(const std::string& path, const std::string& server, int32_t user_id,
                       int32_t interval_time, int32_t server_port, const std::string& bookmark);
// WriteSettingsFile; when path refuses it (a per-user file in the install
// folder that an elevated start made, which a standard user cannot
// replace), the per-user file in user_folder instead (the folder created),
// which ResolveSettingsPath finds first from then on; the file at path
// stays as it is. With the message box when nothing could be written.
// The file written, empty when none.
// The file is written in form's encoding; with the fallback, the record
// beside path goes with it.
std::string SaveSettings(const std::string& path, const std::string& server, int32_t user_id,
                         int32_t interval_time, int32_t server_port, const std::string& bookmark,
                         const std::string& user_folder = UserSettingsFolder(),
                         const SettingsForm& form = SettingsForm());

}  // namespace orlimo
