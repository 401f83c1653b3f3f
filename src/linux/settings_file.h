// Where the settings file lives on a Linux desktop, and how its bytes are
// read, shown and written back.
//
//   shared    orlimo/config.properties in the system configuration folders
//             ($XDG_CONFIG_DIRS, default /etc/xdg): the package's file
//   per user  $XDG_CONFIG_HOME/orlimo/config.properties (default
//             ~/.config/...): a copy of the shared file made on first start
//   record    the per-user file's name + ".shared": a byte copy of the
//             shared file as the user's values were last brought in line
//             with it (see FollowSharedFile)
//   previous  the shared file's name + ".previous": the shared file that a
//             package upgrade replaced, kept by the package
//
// The file's rules (keys, numbers, favorites, the five-line writer) are the
// core's; here are the paths, the atomic write and the text encoding.
#pragma once
#include <QByteArray>
#include <QString>

#include <string>

#include "core/settings.h"

class QWidget;

namespace orlimo {

// The encoding of the settings file's text: UTF-8 with its mark when the
// file begins with one (an editor's "UTF-8"; the reader skips the mark),
// else UTF-8 when the whole file is valid UTF-8, else GB18030 (a file
// written on Chinese Windows). Values are kept as the file's bytes and only
// converted where they meet the user interface, so a file is written back
// in the encoding it was read in, with its mark when it had one.
enum class FileEncoding { Utf8, Utf8WithMark, Gb18030 };

FileEncoding DetectEncoding(const QByteArray& bytes);
QString DecodeText(const std::string& bytes, FileEncoding encoding);
std::string EncodeText(const QString& text, FileEncoding encoding);

// $XDG_CONFIG_HOME/orlimo/config.properties.
QString UserSettingsPath();
// The first orlimo/config.properties in $XDG_CONFIG_DIRS; empty when none.
QString SharedSettingsPath();

// The settings file to use: the per-user file when it can be read; else a
// copy of the shared file made as the per-user file; else the shared file;
// else the per-user path (no file yet: the settings dialog creates it).
QString ResolveSettingsPath();

// Reads the file into settings and bookmarks and tells its encoding; false
// when it cannot be read (nothing changes then).
bool ReadSettingsFile(const QString& path, Settings* settings, BookmarkList* bookmarks,
                      FileEncoding* encoding);
// ReadSettingsFile, with the message box when the file cannot be read.
void LoadSettings(const QString& path, Settings* settings, BookmarkList* bookmarks,
                  FileEncoding* encoding);

// Replaces the file at path with data through a temporary file beside it
// and a rename, creating the folder when needed; on failure the old file
// stays as it was.
bool WriteFileAtomically(const QString& path, const QByteArray& data);

// The five-line file in an encoding: its text values are bytes of that
// encoding already; UTF-8 with its mark begins with the mark.
QByteArray SettingsFileBytes(const Settings& values, FileEncoding encoding);

// Writes the five-line file; shows "创建配置文件失败!" (owned by owner) and
// returns false when it could not be written.
bool SaveSettings(QWidget* owner, const QString& path, const Settings& values, FileEncoding encoding);

// Later changes of the shared file reach the user's file for each value the
// user has not set. The base is the record beside the user's file; without
// one, the previous shared file a package upgrade kept; without either,
// nothing tells, and every value of the user's file stays the user's own.
// Each of the user's values that equals the base's takes the shared file's
// (the core's FollowShared; text values compared and written in the user's
// file's encoding); when that changes anything, the user's file is
// rewritten atomically. Then the record becomes a copy of the shared file.
// A shared file that cannot be read or holds no server changes nothing; a
// user's file that cannot be rewritten stays as it is, and so does the
// record (the next start tries again).
void FollowSharedFile(const QString& user_path, const QString& shared_path);

}  // namespace orlimo
