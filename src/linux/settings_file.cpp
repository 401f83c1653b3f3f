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

}  // namespace orlimo
