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

bool Readable(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

}  // namespace

bool ReadWhole(const QString& path, QByteArray* data) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    if (file.size() > kMaxSettingsFile) return false;
    *data = file.readAll();
    return file.error() == QFileDevice::NoError;
}

namespace {

// Bytes as text of a codec, or nothing when they are not.
std::optional<QString> Decode(const std::string& bytes, bool utf8) {
    const QByteArray data = QByteArray::fromStdString(bytes);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringDecoder decoder = utf8 ? QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless)
                                  : QStringDecoder("GB18030", QStringConverter::Flag::Stateless);
    if (!decoder.isValid()) return std::nullopt;
    const QString text = decoder.decode(data);
    if (decoder.hasError()) return std::nullopt;
    return text;
#else
    QTextCodec* codec = utf8 ? QTextCodec::codecForMib(106) : QTextCodec::codecForName("GB18030");
    if (!codec) return std::nullopt;
    QTextCodec::ConverterState state;
    const QString text = codec->toUnicode(data.constData(), data.size(), &state);
    if (state.invalidChars != 0 || state.remainingChars != 0) return std::nullopt;
    return text;
#endif
}

std::optional<std::string> EncodeGb18030(const QString& text) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringEncoder gb18030("GB18030", QStringConverter::Flag::Stateless);
    if (!gb18030.isValid()) return std::nullopt;
    const QByteArray data = gb18030.encode(text);
    if (gb18030.hasError()) return std::nullopt;
    return data.toStdString();
#else
    QTextCodec* gb18030 = QTextCodec::codecForName("GB18030");
    if (!gb18030) return std::nullopt;
    return gb18030->fromUnicode(text).toStdString();
#endif
}

}  // namespace

std::optional<std::string> QtTextConverter::NativeToUtf8(const std::string& text) const {
    const std::optional<QString> decoded = Decode(text, false);
    if (!decoded) return std::nullopt;
    return decoded->toUtf8().toStdString();
}

std::optional<std::string> QtTextConverter::Utf8ToNative(const std::string& text) const {
    const std::optional<QString> decoded = Decode(text, true);
    if (!decoded) return std::nullopt;
    return EncodeGb18030(*decoded);
}

QString DecodeText(const std::string& bytes, FileEncoding encoding) {
    if (IsUtf8Encoding(encoding)) return QString::fromUtf8(QByteArray::fromStdString(bytes));
    if (const std::optional<QString> text = Decode(bytes, false)) return *text;
    return QString::fromLatin1(QByteArray::fromStdString(bytes));
}

QString PolicyFilePath() { return QStringLiteral(ORLIMO_POLICY_FILE); }

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

bool LoadSettings(const QString& path, QByteArray* data) {
    if (ReadWhole(path, data)) return true;
    AppMessageBox(nullptr, Text(IDS_NO_SETTINGS_FILE));
    return false;
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

bool SaveSettings(QWidget* owner, const QString& path, const QByteArray& bytes) {
    if (WriteFileAtomically(path, bytes)) return true;
    AppMessageBox(owner, Text(IDS_SAVE_FAILED));
    return false;
}

namespace {

std::optional<std::string> FileBytes(const QString& path) {
    QByteArray data;
    if (!ReadWhole(path, &data)) return std::nullopt;
    return data.toStdString();
}

}  // namespace

void FollowSharedFile(const QString& user_path, const QString& shared_path, QByteArray* user_bytes) {
    if (shared_path.isEmpty()) return;
    const QString record_path = user_path + QLatin1String(".shared");
    const FollowResult r = FollowSharedFile({user_bytes->toStdString(), FileBytes(record_path),
                                             FileBytes(shared_path + QLatin1String(".previous")),
                                             FileBytes(shared_path), shared_path.toStdString()},
                                            QtTextConverter());
    for (const std::string& reason : r.reasons) qWarning("orlimo: %s", reason.c_str());
    if (r.user) {
        // In force for this run even when it cannot be kept.
        *user_bytes = QByteArray::fromStdString(*r.user);
        if (!WriteFileAtomically(user_path, *user_bytes)) {
            qWarning("orlimo: %s could not be written; the values of %s are in force until the program ends, "
                     "and the next start tries again",
                     qUtf8Printable(user_path), qUtf8Printable(shared_path));
            return;
        }
    }
    if (r.record && !WriteFileAtomically(record_path, QByteArray::fromStdString(*r.record)))
        qWarning("orlimo: %s could not be written", qUtf8Printable(record_path));
}

}  // namespace orlimo
