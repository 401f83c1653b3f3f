#include "linux/desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "linux/settings_file.h"

namespace orlimo {
namespace {

// A value of type string: backslash and control characters escaped.
QString EscapeValue(const QString& value) {
    QString out;
    for (QChar c : value) {
        switch (c.unicode()) {
            case '\\': out += QLatin1String("\\\\"); break;
            case '\n': out += QLatin1String("\\n"); break;
            case '\r': out += QLatin1String("\\r"); break;
            case '\t': out += QLatin1String("\\t"); break;
            default: out += c;
        }
    }
    return out;
}

bool IsTrue(const QByteArray& value) { return value == "true" || value == "1"; }
bool IsFalse(const QByteArray& value) { return value == "false" || value == "0"; }

bool ReadSmallFile(const QString& path, QByteArray* data) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    *data = file.read(1024 * 1024);
    return true;
}

QByteArray AutostartEntry(const QString& program, bool hidden) {
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=orlimo\n");
    text += QStringLiteral("Exec=") + EscapeValue(DesktopExecArg(program)) + '\n';
    text += QStringLiteral("Icon=orlimo\nTerminal=false\n");
    if (hidden) text += QStringLiteral("Hidden=true\n");
    return text.toUtf8();
}

}  // namespace

QString DesktopExecArg(const QString& arg) {
    QString out = QStringLiteral("\"");
    for (QChar c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    // A literal percent sign is "%%": a single one starts a field code.
    out.replace('%', QLatin1String("%%"));
    return out;
}

bool DesktopEntryHidden(const QByteArray& entry) {
    bool in_main_group = false;
    bool hidden = false;
    for (QByteArray line : entry.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            in_main_group = line == "[Desktop Entry]";
            continue;
        }
        const int eq = line.indexOf('=');
        if (!in_main_group || eq < 0) continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        // The last occurrence of a key counts.
        if (key == "Hidden") hidden = IsTrue(value);
        if (key == "X-GNOME-Autostart-enabled" && IsFalse(value)) hidden = true;
    }
    return hidden;
}

// ---- autostart ----

XdgAutostart::XdgAutostart(QString program) : program_(std::move(program)) {}

QString XdgAutostart::UserEntryPath() const {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
           kAutostartFile;
}

QString XdgAutostart::SystemEntryPath() const {
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    dirs.removeAll(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    for (const QString& dir : dirs) {
        const QString path = dir + '/' + kAutostartFile;
        if (QFileInfo(path).isFile()) return path;
    }
    return QString();
}

bool XdgAutostart::Present() {
    QByteArray entry;
    const QString user = UserEntryPath();
    if (QFileInfo::exists(user)) return ReadSmallFile(user, &entry) && !DesktopEntryHidden(entry);
    const QString system = SystemEntryPath();
    return !system.isEmpty() && ReadSmallFile(system, &entry) && !DesktopEntryHidden(entry);
}

void XdgAutostart::Write() {
    const QString user = UserEntryPath();
    if (QFileInfo::exists(user)) QFile::remove(user);
    if (Present()) return;  // the system's entry starts the program
    WriteFileAtomically(user, AutostartEntry(program_, false));
}

void XdgAutostart::Remove() {
    const QString user = UserEntryPath();
    const QString system = SystemEntryPath();
    QByteArray entry;
    if (!system.isEmpty() && ReadSmallFile(system, &entry) && !DesktopEntryHidden(entry)) {
        WriteFileAtomically(user, AutostartEntry(program_, true));
    } else if (QFileInfo::exists(user)) {
        QFile::remove(user);
    }
}

// ---- shortcuts ----

QString DesktopFolder() {
    QString folder;
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-user-dir"));
    if (!tool.isEmpty()) {
        QProcess process;
        process.setProgram(tool);
        process.setArguments({QStringLiteral("DESKTOP")});
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start();
        if (process.waitForFinished(3000) && process.exitStatus() == QProcess::NormalExit &&
            process.exitCode() == 0) {
            QByteArray out = process.readAllStandardOutput();
            while (out.endsWith('\n')) out.chop(1);
            folder = QFile::decodeName(out);
        } else {
            process.kill();
            process.waitForFinished(1000);
        }
    }
    if (folder.isEmpty() || QDir::isRelativePath(folder)) {
        folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    }
    folder = QDir::cleanPath(folder);
    if (folder == QDir::cleanPath(QDir::homePath()) || !QFileInfo(folder).isDir()) return QString();
    return folder;
}

QString ApplicationsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
}

QByteArray PortalShortcutEntry(const QString& name, const QString& address) {
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nVersion=1.0\n");
    text += QStringLiteral("Name=") + EscapeValue(name) + '\n';
    text += QStringLiteral("Exec=") + EscapeValue(QStringLiteral("xdg-open ") + DesktopExecArg(address)) + '\n';
    text += QStringLiteral("Icon=orlimo\nTerminal=false\nCategories=Network;\n");
    return text.toUtf8();
}

bool WritePortalShortcut(const QString& folder, bool create_folder, const QByteArray& entry) {
    if (folder.isEmpty() || entry.isEmpty()) return false;
    if (!create_folder && !QFileInfo(folder).isDir()) return false;
    const QString path = folder + '/' + kPortalShortcutFile;
    if (!WriteFileAtomically(path, entry)) return false;
    // Desktops start launchers on the desktop only when they are executable.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                    QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                    QFileDevice::ExeOther);
    return true;
}

}  // namespace orlimo
