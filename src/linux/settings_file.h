// Where the settings file lives on a Linux desktop, and how its bytes are
// read, shown and written back.
//
//   shared    orlimo/config.properties in the system configuration folders
//             ($XDG_CONFIG_DIRS, default /etc/xdg): the package's file
//   per user  $XDG_CONFIG_HOME/orlimo/config.properties (default
//             ~/.config/...): a copy of the shared file made on first start
//   record    the per-user file's name + ".shared": a copy of the shared
//             file as the user's values were last brought in line with it
//             (see FollowSharedFile)
//   previous  the shared file's name + ".previous": the shared file that a
//             package upgrade replaced, kept by the package
//   policy    PolicyFilePath(): the administrator's values over all others
//
// The file's rules (keys, numbers, favorites, the five-line writer, its
// encoding, following the shared file, policies) are the core's; here are
// the paths, the atomic write and the conversions.
#pragma once
#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

#include "core/managed.h"
#include "core/settings.h"

class QWidget;

namespace orlimo {

// The file's encoding is the core's rule (DetectEncoding); the native one
// is GB18030 (a file written on Chinese Windows), and a file of ASCII alone
// takes new text in UTF-8. Values are kept as the file's bytes and only
// converted where they meet the user interface or the browser.
class QtTextConverter : public TextConverter {
public:
    std::optional<std::string> NativeToUtf8(const std::string& text) const override;
    std::optional<std::string> Utf8ToNative(const std::string& text) const override;
    FileEncoding AsciiFileEncoding() const override { return FileEncoding::Utf8; }
};

QString DecodeText(const std::string& bytes, FileEncoding encoding);

// The administrator's policy file, /etc/orlimo/policy.properties (the
// build's system configuration folder): in force over every other
// setting, outside $XDG_CONFIG_DIRS, which a user can change.
QString PolicyFilePath();

// $XDG_CONFIG_HOME/orlimo/config.properties.
QString UserSettingsPath();
// The first orlimo/config.properties in $XDG_CONFIG_DIRS; empty when none.
QString SharedSettingsPath();

// The settings file to use: the per-user file when it can be read; else a
// copy of the shared file made as the per-user file; else the shared file;
// else the per-user path (no file yet: the settings dialog creates it).
QString ResolveSettingsPath();

// The file's bytes, whole; false when it cannot be read.
bool ReadWhole(const QString& path, QByteArray* data);
// ReadWhole, with the message box when the file cannot be read.
bool LoadSettings(const QString& path, QByteArray* data);

// Replaces the file at path with data through a temporary file beside it
// and a rename, creating the folder when needed; on failure the old file
// stays as it was.
bool WriteFileAtomically(const QString& path, const QByteArray& data);

// Writes the file's bytes; shows "创建配置文件失败!" (owned by owner) and
// returns false when it could not be written.
bool SaveSettings(QWidget* owner, const QString& path, const QByteArray& bytes);

// Brings the user's file (*user_bytes, read from user_path) in line with
// the shared file (the core's FollowSharedFile) and writes what changed:
// the user's file, then the record beside it. When the user's file cannot
// be written, *user_bytes still holds the new values, in force for this
// run, and the record stays (the next start tries again). What was taken,
// refused or could not be written goes to standard error.
void FollowSharedFile(const QString& user_path, const QString& shared_path, QByteArray* user_bytes);

}  // namespace orlimo
