// The tray menu's commands, the same on every front end: which command an
// item's id stands for, what choosing it does in terms of the core, and how
// its item is shown. A front end supplies only what is its own: dialogs,
// the browser, the autorun store, shortcuts and exit.
#pragma once
#include <cstdint>
#include <string>

#include "core/settings.h"

namespace orlimo {

enum class Command {
    None,  // no handler: the item is disabled
    Page,  // one of the 31 portal pages
    Favorite,
    Settings,
    AutoRun,
    NotifierUpdate,
    PortalHome,
    About,
    Exit,
    Nothing,  // handled, and changes nothing (the document holds nothing)
    ShortcutDesktop,
    ShortcutStartMenu,
    ShortcutQuickLaunch,
    ShortcutAll,
};

// The command an id stands for; Command::None when it stands for none.
Command FindCommand(int id);

// What a front end does for the commands that are its own.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // Whether this front end has the command at all (a Linux desktop has no
    // Quick Launch bar); a command it lacks has no handler.
    virtual bool Offers(Command) const { return true; }
    // Hands a complete address to the default browser.
    virtual void OpenUrl(const std::string& address) = 0;
    virtual void OnSettings() = 0;
    virtual void OnAutoRun() = 0;
    // The autorun check mark's state, 1 when autorun is on.
    virtual int32_t AutorunFlag() = 0;
    // Whether a policy sets autorun: then the item is greyed and does nothing.
    virtual bool AutorunLocked() const { return false; }
    virtual void OnNotifierUpdate() = 0;
    virtual void OnAbout() = 0;
    virtual void OnAppExit() = 0;
    // One of the Shortcut... commands.
    virtual void OnShortcut(Command which) = 0;
};

// One menu item during the command-UI update, as each front end shows it.
class CmdUI {
public:
    virtual ~CmdUI() = default;
    virtual int Id() const = 0;
    virtual void Enable(bool on) = 0;
    virtual void SetCheck(bool on) = 0;
    // A caption of settings-file text, in the file's own encoding.
    virtual void SetText(const std::string& text) = 0;
};

bool HasCommandHandler(int id, const CommandTarget& target);
// Runs the command of id; false when it has no handler.
bool OnCmdMsg(int id, const Settings& settings, const BookmarkList& bookmarks, CommandTarget& target);
// Runs the update handler of ui's item; false when it has none.
bool OnUpdateCmdUI(CmdUI& ui, const BookmarkList& bookmarks, CommandTarget& target);

}  // namespace orlimo
