// Hands an address to the default browser: the shell's "open" verb on the
// address as it stands, with no command interpreter in between.
#pragma once
#include <string>

namespace orlimo {

// Opens address (settings-file text, SettingsTextToWide) with ShellExecuteExW on a
// short-lived thread of its own, so that a slow shell never holds up the
// caller. False when the address was refused or the thread could not be
// started; what the shell then does is not waited for.
bool LaunchAddress(const std::string& address);

}  // namespace orlimo
