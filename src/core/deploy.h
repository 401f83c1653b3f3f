// The settings that an installer package writes into the shared settings
// file, from the values an administrator gives on its command line.
#pragma once
#include <optional>
#include <string>

namespace orlimo {

// Values as given, as text in the existing file's encoding (UTF-8 when the
// core's DetectEncoding says so, as an editor saves it; else the system's
// ANSI code page); an empty value counts as not given.
struct DeployValues {
    std::string server, port, interval, user_id, bookmarks;
    bool AnyGiven() const;
};

enum class DeployError { None, BadServer, BadPort, BadInterval, BadUserId, BadBookmarks };

struct DeployResult {
    DeployError error = DeployError::None;
    std::optional<std::string> file;  // the file's new bytes; none: leave it as it is
};

// What the shared settings file becomes, given its bytes (none when there
// is no file). With no value given, an existing file stays byte for byte
// (an upgrade keeps it). Otherwise the five-line file, each value taken
// from what is given, else from the existing file, else from the defaults
// (the build's server, port 80, interval 1, user 0, no favorites), after
// the UTF-8 mark when the existing file begins with one.
// Refused, with the first fault, what the limits of core/limits.h refuse:
// a server that is no host (or "https://" and a host), or that ends up
// empty; a port, an interval or a user id that is not a whole number in
// its range; favorites with control characters (a line end would break
// the file).
DeployResult DeploySettings(const std::optional<std::string>& existing, const DeployValues& given);

}  // namespace orlimo
