// Shell shortcut files (.lnk) through IShellLink.
#pragma once
#include <windows.h>

#include <string>

#include "core/shortcuts.h"

namespace orlimo {

// The file-system folder of a shell special folder; empty when it has none.
std::wstring SpecialFolderPath(int csidl);
std::wstring ShortcutFolderPath(ShortcutFolder folder);

// Writes a browser shortcut (icon of the installed program, arguments) or a
// plain one (target and show command only). True only when the file was
// saved.
bool CreatePortalLink(const std::wstring& target, const std::wstring& link_path,
                      const std::wstring& arguments);
bool CreatePlainLink(const std::wstring& target, const std::wstring& link_path);

// Tells the shell about a new shortcut and its folder.
void NotifyShellOfLink(LONG event, const std::wstring& link_path);

// Writes one step of the shortcut plan; true when the file was saved (and
// announced).
bool WriteShortcutStep(const ShortcutStep& step);

// Every shortcut of the plan for these settings, in its order.
void CreateAllShortcuts(const Settings& settings);
// The portal shortcut alone: in the Quick Launch folder when quick_launch
// is 1, else in the start menu for CSIDL_STARTMENU, else on the desktop.
void CreatePortalShortcut(const Settings& settings, int csidl, int quick_launch);

}  // namespace orlimo
