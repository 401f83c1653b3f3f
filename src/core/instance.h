// The name under which the running orlimo of a desktop session is known on
// the session bus. A user's session bus may serve several graphical logins
// at once (systemd's user bus is one per user): the name carries the login
// session, so that each login has an orlimo of its own.
#pragma once
#include <string>

namespace orlimo {

// base, or base + ".s" + the session id in a form a bus name can hold:
// ASCII letters and digits as they are, every other byte as "_" and two
// lower-case hex digits, so that two ids never give the same name. An id
// too long for a bus name (255 bytes) gives base + ".h" + a hash of it. An
// empty id gives base: without a session id, one instance per bus.
std::string InstanceBusName(const std::string& base, const std::string& session_id);

}  // namespace orlimo
