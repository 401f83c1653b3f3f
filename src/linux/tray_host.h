// Whether the desktop has a tray for the icon yet. Qt looks once, when the
// icon is made; the frame asks here until the answer is yes.
#pragma once

namespace orlimo {

// Whether the desktop has a tray now: a StatusNotifierItem host (registered
// with the watcher), or an XEmbed tray on the X screen.
bool TrayPresent();

}  // namespace orlimo
