#include "core/commands.h"

#include "core/portal.h"

namespace orlimo {
namespace {

struct CommandId {
    int id;
    Command command;
};

// The ids of the resource script (ID_... in res/resource.h).
const CommandId kCommandIds[] = {
    {32771, Command::Settings},             // ID_TRAY_CONFIG
    {32773, Command::Settings},             // ID_SETTINGS
    {32772, Command::Nothing},              // ID_TRAY_CLOSE
    {32776, Command::AutoRun},              // ID_AUTORUN
    {32778, Command::NotifierUpdate},       // ID_NOTIFIER_UPDATE
    {32777, Command::PortalHome},           // ID_PORTAL_HOME
    {0xE140, Command::About},               // ID_APP_ABOUT
    {0xE141, Command::Exit},                // ID_APP_EXIT
    {0xE100, Command::Nothing},             // ID_FILE_NEW
    {0xE101, Command::Nothing},             // ID_FILE_OPEN
    {32833, Command::ShortcutDesktop},      // ID_SHORTCUT_DESKTOP
    {32834, Command::ShortcutStartMenu},    // ID_SHORTCUT_STARTMENU
    {32835, Command::ShortcutQuickLaunch},  // ID_SHORTCUT_QUICKLAUNCH
    {32836, Command::ShortcutAll},          // ID_SHORTCUT_ALL
};

Command OfferedCommand(int id, const CommandTarget& target) {
    const Command command = FindCommand(id);
    return command != Command::None && target.Offers(command) ? command : Command::None;
}

}  // namespace

Command FindCommand(int id) {
    if (FindPageCommand(id)) return Command::Page;
    if (FavoriteNumber(id)) return Command::Favorite;
    for (const CommandId& c : kCommandIds) {
        if (c.id == id) return c.command;
    }
    return Command::None;
}

bool HasCommandHandler(int id, const CommandTarget& target) {
    return OfferedCommand(id, target) != Command::None;
}

bool OnCmdMsg(int id, const Settings& settings, const BookmarkList& bookmarks, CommandTarget& target) {
    const Command command = OfferedCommand(id, target);
    switch (command) {
    case Command::None: return false;
    case Command::Page: target.OpenUrl(PageCommandUrl(*FindPageCommand(id), settings)); break;
    case Command::Favorite:
        if (std::optional<std::string> url = FavoriteTarget(FavoriteNumber(id), bookmarks)) target.OpenUrl(*url);
        break;
    case Command::Settings: target.OnSettings(); break;
    case Command::AutoRun:
        if (!target.AutorunLocked()) target.OnAutoRun();
        break;
    case Command::NotifierUpdate: target.OnNotifierUpdate(); break;
    case Command::PortalHome: target.OpenUrl(ServerRootUrl(settings)); break;
    case Command::About: target.OnAbout(); break;
    case Command::Exit: target.OnAppExit(); break;
    case Command::Nothing: break;
    case Command::ShortcutDesktop:
    case Command::ShortcutStartMenu:
    case Command::ShortcutQuickLaunch:
    case Command::ShortcutAll: target.OnShortcut(command); break;
    }
    return true;
}

bool OnUpdateCmdUI(CmdUI& ui, const BookmarkList& bookmarks, CommandTarget& target) {
    switch (OfferedCommand(ui.Id(), target)) {
    case Command::AutoRun:
        ui.SetCheck(target.AutorunFlag() == 1);
        if (target.AutorunLocked()) ui.Enable(false);
        return true;
    case Command::Favorite: {
        const FavoriteView view = FavoriteUpdate(FavoriteNumber(ui.Id()), bookmarks);
        if (view.set_enabled) ui.Enable(view.enabled);
        if (view.set_text) ui.SetText(view.text);
        return true;
    }
    default: return false;
    }
}

}  // namespace orlimo
