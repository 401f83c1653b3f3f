// Desktop entries: the autostart entry that starts the program with the
// user's session, and the portal shortcuts on the desktop and in the
// applications menu.
#pragma once
#include <QString>
#include <QStringList>

#include "core/autorun.h"

namespace orlimo {

// One argument of a desktop entry's Exec key, quoted and escaped so that
// the launcher passes exactly this text (blanks, quotes, "$", "%" and
// backslashes included).
QString DesktopExecArg(const QString& arg);

// Whether a desktop entry's text turns it off: Hidden=true, or GNOME's
// X-GNOME-Autostart-enabled=false, in its [Desktop Entry] group.
bool DesktopEntryHidden(const QByteArray& entry);

inline const char kAutostartFile[] = "autostart/orlimo.desktop";

// Autostart through the XDG rules: the package's entry in a system
// configuration folder ($XDG_CONFIG_DIRS/autostart/orlimo.desktop), which
// the user's file of the same name in $XDG_CONFIG_HOME/autostart overrides.
class XdgAutostart : public RunValuePort {
public:
    // program: what the user's own entry starts (the running program).
    explicit XdgAutostart(QString program);

    // Turns autostart on: removes a user override that turned it off, and
    // when that is not enough (no system entry, or one that is off) writes
    // the user's own entry.
    void Write() override;
    // Turns it off: the user's override with Hidden=true where a system
    // entry would start the program, else the user's entry removed.
    void Remove() override;
    // The effective state: the user's entry when there is one, else the
    // system's, else off.
    bool Present() override;

    QString UserEntryPath() const;
    QString SystemEntryPath() const;  // empty when there is none

private:
    QString program_;
};

// The folder for desktop shortcuts: what `xdg-user-dir DESKTOP` says, or the
// same rule read directly when that program is missing; empty when the
// folder does not exist or is the home folder itself (the desktop turned off).
QString DesktopFolder();
// $XDG_DATA_HOME/applications.
QString ApplicationsFolder();

// The shortcut's file name in both folders.
inline const char kPortalShortcutFile[] = "orlimo-portal.desktop";

// The desktop entry that opens address with the default browser, with the
// program's icon, named name.
QByteArray PortalShortcutEntry(const QString& name, const QString& address);

// Writes the entry as folder/kPortalShortcutFile (creating the folder when
// create_folder); false when it was not written (also for an empty entry).
bool WritePortalShortcut(const QString& folder, bool create_folder, const QByteArray& entry);

}  // namespace orlimo
