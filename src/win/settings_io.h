// The settings file: which one a user's start reads, reading and writing
// its bytes (with a fallback for a file the user may not replace), and
// bringing it in line with the shared file. The rules are the core's
// (core/managed.h); here are the paths and the files.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "core/managed.h"
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

// The native encoding is the system's ANSI code page; nothing that would
// be lost is converted.
class CodePageConverter : public TextConverter {
public:
    std::optional<std::string> NativeToUtf8(const std::string& text) const override;
    std::optional<std::string> Utf8ToNative(const std::string& text) const override;
    FileEncoding AsciiFileEncoding() const override { return FileEncoding::Native; }
};

// The code page of text in an encoding: CP_UTF8 or CP_ACP.
UINT CodePageOf(FileEncoding encoding);

// A file's bytes, whole; false when it cannot be opened.
bool ReadFileBytes(const std::string& path, std::string* bytes);
// ReadFileBytes, with the message box when the file cannot be opened.
bool LoadSettings(const std::string& path, std::string* bytes);

// Beside a user's file, the copy of the shared file as the user's values
// were last brought in line with it: "<user file>.shared".
extern const char kSharedRecordSuffix[];
// In the install folder, the shared file as the installer package found it
// before it first changed it, which copies made before there were records
// were made from.
extern const char kEarlierSharedName[];

// Brings the user's file (*user_bytes, read from *path) in line with the
// shared file in folder (the core's FollowSharedFile), and writes what
// changed: the user's file, then the record beside it. When the user's
// folder refuses them (a file in the install folder that a standard user
// cannot replace), both are written as the user's own file in user_folder,
// which *path then names. When nothing can be written, *user_bytes still
// holds the new values, in force for this run (the next start tries
// again). Nothing happens when *path is the shared file itself. What was
// taken, refused or could not be written goes to the failure log.
void FollowSharedSettings(std::string* path, std::string* user_bytes, const std::string& folder = install_folder,
                          const std::string& user_folder = UserSettingsFolder());

// Writes the file's bytes through ReplaceFileAtomically; when path refuses
// them (a per-user file in the install folder that an elevated start made,
// which a standard user cannot replace), the per-user file in user_folder
// instead (the folder created), which ResolveSettingsPath finds first from
// then on, and the record beside path goes with it; the file at path stays
// as it is. With the message box when nothing could be written. The file
// written, empty when none.
std::string SaveSettings(const std::string& path, const std::string& bytes,
                         const std::string& user_folder = UserSettingsFolder());

}  // namespace orlimo
