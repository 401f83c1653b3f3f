// The settings that an installer package writes into the shared settings
// file, from the values an administrator gives on its command line.
#pragma once
#include <optional>
#include <string>

namespace orlimo {

// Values as given, as text in the existing file's encoding (UTF-8 when it
// begins with the UTF-8 mark, as an editor saves it; else the system's ANSI
// code page); an empty value counts as not given.
struct DeployValues {
    std::string server, port, interval, user_id, bookmarks;
    bool AnyGiven() const;
};

enum class DeployError { None, BadServer, BadPort, BadInterval, BadUserId, BadBookmarks };

// The limits of the values; the port and the interval as whole numbers.
constexpr long kMaxPort = 65535;
// Minutes: at least one (0 would poll every second, a fleet's load on the
// portal from one typing slip), at most a day.
constexpr long kMinInterval = 1;
constexpr long kMaxInterval = 1440;

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
// Refused, with the first fault: a server (a host, or "https://" and a
// host) whose host holds blanks, control characters or "/ \ ? #", or that
// ends up empty; a port that is not a
// whole number from 1 to kMaxPort; an interval that is not one from
// kMinInterval to kMaxInterval; a user id that is not a 32-bit whole number; favorites with
// control characters (a line end would break the file).
DeployResult DeploySettings(const std::optional<std::string>& existing, const DeployValues& given);

}  // namespace orlimo
