#include "linux/settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QStringDecoder>
#include <QStringEncoder>
#else
#include <QTextCodec>
#endif

#include <optional>

#include "linux/dialogs.h"
#include "linux/texts.h"

namespace orlimo {
namespace {

const char kSettingsRelative[] = "orlimo/config.properties";

// Files are read whole; a settings file is a few hundred bytes, and one far
// larger than this is not a settings file.
constexpr qint64 kMaxSettingsFile = 16 * 1024 * 1024;

bool ReadWhole(const QString& path, QByteArray* data) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    if (file.size() > kMaxSettingsFile) return false;
    *data = file.readAll();
    return file.error() == QFileDevice::NoError;
}

bool Readable(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

}  // namespace

FileEncoding DetectEncoding(const QByteArray& bytes) {
    if (bytes.startsWith(kUtf8Mark)) return FileEncoding::Utf8WithMark;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(bytes);  // decodes only when made a QString
    const bool valid = !utf8.hasError();
#else
    // A sequence cut off at the end is an error too, as for the stateless
    // decoder above.
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    const bool valid = state.invalidChars == 0 && state.remainingChars == 0;
#endif
    return valid ? FileEncoding::Utf8 : FileEncoding::Gb18030;
}

QString DecodeText(const std::string& bytes, FileEncoding encoding) {
    const QByteArray data = QByteArray::fromStdString(bytes);
    if (encoding != FileEncoding::Gb18030) return QString::fromUtf8(data);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringDecoder gb18030("GB18030");
    if (gb18030.isValid()) return gb18030.decode(data);
#else
    if (QTextCodec* gb18030 = QTextCodec::codecForName("GB18030")) return gb18030->toUnicode(data);
#endif
    return QString::fromLatin1(data);
}

std::string EncodeText(const QString& text, FileEncoding encoding) {
    if (encoding != FileEncoding::Gb18030) return text.toUtf8().toStdString();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringEncoder gb18030("GB18030");
    if (gb18030.isValid()) return QByteArray(gb18030.encode(text)).toStdString();
#else
    if (QTextCodec* gb18030 = QTextCodec::codecForName("GB18030")) return gb18030->fromUnicode(text).toStdString();
#endif
    return text.toUtf8().toStdString();
}

QString UserSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
           kSettingsRelative;
}

QString SharedSettingsPath() {
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    // The first entry is the user's own folder; the rest are $XDG_CONFIG_DIRS.
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    dirs.removeAll(home);
    for (const QString& dir : dirs) {
        const QString path = dir + '/' + kSettingsRelative;
        if (QFileInfo(path).isFile()) return path;
    }
    return QString();
}

QString ResolveSettingsPath() {
    const QString user = UserSettingsPath();
    if (Readable(user)) return user;
    const QString shared = SharedSettingsPath();
    QByteArray data;
    if (!shared.isEmpty() && ReadWhole(shared, &data)) {
        // The copy keeps the shared file's bytes; its outcome shows below.
        WriteFileAtomically(user, data);
        if (Readable(user)) return user;
        return shared;
    }
    return user;
}

bool ReadSettingsFile(const QString& path, Settings* settings, BookmarkList* bookmarks,
                      FileEncoding* encoding) {
    QByteArray data;
    if (!ReadWhole(path, &data)) return false;
    ApplySettingsText(data.toStdString(), settings, bookmarks);
    *encoding = DetectEncoding(data);
    return true;
}

void LoadSettings(const QString& path, Settings* settings, BookmarkList* bookmarks,
                  FileEncoding* encoding) {
    if (!ReadSettingsFile(path, settings, bookmarks, encoding)) {
        AppMessageBox(nullptr, Text(IDS_NO_SETTINGS_FILE));
    }
}

bool WriteFileAtomically(const QString& path, const QByteArray& data) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    // QSaveFile flushes to disk before it renames the temporary file.
    return file.commit();
}

QByteArray SettingsFileBytes(const Settings& values, FileEncoding encoding) {
    QByteArray data;
    if (encoding == FileEncoding::Utf8WithMark) data = kUtf8Mark;
    data += QByteArray::fromStdString(FormatSettingsFile(values.server, values.user_id, values.interval_time,
                                                         values.server_port, values.bookmark));
    return data;
}

bool SaveSettings(QWidget* owner, const QString& path, const Settings& values, FileEncoding encoding) {
    if (WriteFileAtomically(path, SettingsFileBytes(values, encoding))) return true;
    AppMessageBox(owner, Text(IDS_SAVE_FAILED));
    return false;
}

namespace {

// A shared file's values and the encoding of their text; none when the
// file is no shared settings file.
struct SharedFile {
    Settings values;
    FileEncoding encoding;
};

std::optional<SharedFile> ReadShared(const QString& path, QByteArray* data) {
    if (!ReadWhole(path, data)) return std::nullopt;
    const std::optional<Settings> values = SharedSettingsValues(data->toStdString());
    if (!values) return std::nullopt;
    return SharedFile{*values, DetectEncoding(*data)};
}

// The values with their text in another encoding (numbers need none).
Settings InEncoding(Settings values, FileEncoding from, FileEncoding to) {
    if ((from == FileEncoding::Gb18030) == (to == FileEncoding::Gb18030)) return values;
    values.server = EncodeText(DecodeText(values.server, from), to);
    values.bookmark = EncodeText(DecodeText(values.bookmark, from), to);
    return values;
}

}  // namespace

void FollowSharedFile(const QString& user_path, const QString& shared_path) {
    if (shared_path.isEmpty()) return;
    QByteArray shared_data, user_data;
    const std::optional<SharedFile> shared = ReadShared(shared_path, &shared_data);
    if (!shared || !ReadWhole(user_path, &user_data)) return;

    const QString record_path = user_path + QLatin1String(".shared");
    QByteArray record_data, previous_data;
    std::optional<SharedFile> base = ReadShared(record_path, &record_data);
    if (!base) base = ReadShared(shared_path + QLatin1String(".previous"), &previous_data);

    if (base) {
        Settings user;
        BookmarkList unused;
        ApplySettingsText(user_data.toStdString(), &user, &unused);
        const FileEncoding encoding = DetectEncoding(user_data);
        const Settings in_force = FollowShared(user, InEncoding(base->values, base->encoding, encoding),
                                               InEncoding(shared->values, shared->encoding, encoding));
        if (!SameSettings(in_force, user) &&
            !WriteFileAtomically(user_path, SettingsFileBytes(in_force, encoding))) {
            qWarning("orlimo: %s could not be brought in line with %s", qUtf8Printable(user_path),
                     qUtf8Printable(shared_path));
            return;
        }
    }
    if (record_data != shared_data && !WriteFileAtomically(record_path, shared_data)) {
        qWarning("orlimo: %s could not be written", qUtf8Printable(record_path));
    }
}

}  // namespace orlimo
