// Hands an address to the default browser through the system's command
// interpreter ("start"), hidden.
#pragma once
#include <string>

namespace orlimo {

// The full path of the system's cmd.exe (never one from the program's or
// the current folder).
std::string SystemCommandInterpreter();

// Starts the browser on address; false when the address was refused or the
// interpreter could not be started. Never waits for the browser.
bool LaunchAddress(const std::string& address);

}  // namespace orlimo
