#include "core/shortcuts.h"

#include "core/portal.h"

namespace orlimo {

ShortcutStep PortalShortcutStep(ShortcutFolder folder, const Settings& s) {
    return ShortcutStep{folder, kPortalLinkName, kBrowserTarget, LoginUrl(s),
                        ShortcutWriter::PortalLink};
}

std::vector<ShortcutStep> AllShortcutsPlan(const Settings& s) {
    const ShortcutStep mail_quick{ShortcutFolder::QuickLaunch, kMailLinkName, kMailTarget,
                                  std::string(), ShortcutWriter::PlainLink};
    const ShortcutStep mail_start{ShortcutFolder::StartMenu, kMailLinkName, kMailTarget,
                                  std::string(), ShortcutWriter::PlainLink};
    return {
        PortalShortcutStep(ShortcutFolder::Desktop, s),
        PortalShortcutStep(ShortcutFolder::StartMenu, s),
        PortalShortcutStep(ShortcutFolder::QuickLaunch, s),
        mail_quick,
        mail_start,
    };
}

}  // namespace orlimo
