// Which shortcut files are written, with which target and arguments, in
// which order.
#pragma once
#include <string>
#include <vector>

#include "core/settings.h"

namespace orlimo {

enum class ShortcutFolder { Desktop, DesktopDirectory, StartMenu, QuickLaunch };
enum class ShortcutWriter { PortalLink, PlainLink };

inline const char kBrowserTarget[] = "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";
inline const char kMailTarget[] = "C:\\Program Files\\Outlook Express\\msimn.exe";
inline const char kShortcutIconFile[] = "C:\\Program Files\\orlimo\\orlimo.exe";
constexpr int kShortcutIconIndex = 4;
inline const char kQuickLaunchSubfolder[] = "\\Microsoft\\Internet Explorer\\Quick Launch";
// The two file names are UTF-8; the Windows side writes them through the
// wide shell functions, so they come out right on any code page.
inline const char kPortalLinkName[] = u8"\\企业管理.lnk";
inline const char kMailLinkName[] = u8"\\Outlook邮件客户端.lnk";

struct ShortcutStep {
    ShortcutFolder folder;
    std::string file_name;   // appended to the folder path, begins with "\"
    std::string target;
    std::string arguments;   // empty for plain links
    ShortcutWriter writer;
};

// The five steps of writing all shortcuts, in order.
std::vector<ShortcutStep> AllShortcutsPlan(const Settings& s);
// The one portal shortcut of a single shortcut command.
ShortcutStep PortalShortcutStep(ShortcutFolder folder, const Settings& s);

}  // namespace orlimo
