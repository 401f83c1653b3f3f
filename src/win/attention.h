// What the poller asks Windows about the user and the computer: whether a
// prompt may come up now, and when the network changes.
#pragma once
#include <windows.h>

namespace orlimo {

// False while the user cannot be disturbed: Windows says so (busy, a
// presentation, a full-screen Direct3D program, quiet time), or the window
// in front covers its whole monitor and is not the desktop or the shell.
bool UserCanBeDisturbedNow();

// From now on, message is posted to target whenever the computer's IP
// addresses change (NotifyAddrChange of iphlpapi, loaded from the system
// folder); after each one, WatchNetworkAgain() asks for the next. False
// when Windows cannot report it. For the process's one frame: what the
// pending request refers to lives as long as the process.
bool WatchNetwork(HWND target, UINT message);
void WatchNetworkAgain();

}  // namespace orlimo
