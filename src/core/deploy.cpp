#include "core/deploy.h"

#include <cstdint>

#include "core/settings.h"

namespace orlimo {
namespace {

// Digits only (with an optional leading "-" where allowed), within [low, high].
bool WholeNumber(const std::string& text, long long low, long long high, long long* value) {
    size_t i = 0;
    bool negative = false;
    if (low < 0 && !text.empty() && text[0] == '-') {
        negative = true;
        i = 1;
    }
    if (i == text.size() || text.size() - i > 10) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    if (negative) v = -v;
    if (v < low || v > high) return false;
    *value = v;
    return true;
}

bool HasControlByte(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

bool DeployValues::AnyGiven() const {
    return !server.empty() || !port.empty() || !interval.empty() || !user_id.empty() ||
           !bookmarks.empty();
}

DeployResult DeploySettings(const std::optional<std::string>& existing, const DeployValues& given) {
    DeployResult result;
    Settings s;
    BookmarkList unused;
    if (existing) ApplySettingsText(*existing, &s, &unused);
    long long v = 0;
    // A host, or "https://" and a host (a portal over TLS).
    const bool tls = given.server.compare(0, 8, "https://") == 0;
    const std::string host = tls ? given.server.substr(8) : given.server;
    if (HasControlByte(given.server) || host.find_first_of(" /\\?#") != std::string::npos ||
        (tls && host.empty())) {
        result.error = DeployError::BadServer;
    } else if (!given.port.empty() && !WholeNumber(given.port, 1, kMaxPort, &v)) {
        result.error = DeployError::BadPort;
    } else if (!given.interval.empty() && !WholeNumber(given.interval, kMinInterval, kMaxInterval, &v)) {
        result.error = DeployError::BadInterval;
    } else if (!given.user_id.empty() && !WholeNumber(given.user_id, INT32_MIN, INT32_MAX, &v)) {
        result.error = DeployError::BadUserId;
    } else if (HasControlByte(given.bookmarks)) {
        result.error = DeployError::BadBookmarks;
    }
    if (result.error != DeployError::None) return result;

    if (!given.server.empty()) s.server = given.server;
    if (WholeNumber(given.port, 1, kMaxPort, &v)) s.server_port = static_cast<int32_t>(v);
    if (WholeNumber(given.interval, kMinInterval, kMaxInterval, &v)) s.interval_time = static_cast<int32_t>(v);
    if (WholeNumber(given.user_id, INT32_MIN, INT32_MAX, &v)) s.user_id = static_cast<int32_t>(v);
    if (!given.bookmarks.empty()) s.bookmark = given.bookmarks;
    if (existing && !given.AnyGiven()) return result;  // kept byte for byte
    if (s.server.empty()) {
        result.error = DeployError::BadServer;
        return result;
    }
    // An editor's UTF-8 file keeps its mark (the given values come in UTF-8 then).
    result.file = (existing && HasUtf8Mark(*existing) ? std::string(kUtf8Mark) : std::string()) +
                  FormatSettingsFile(s.server, s.user_id, s.interval_time, s.server_port, s.bookmark);
    return result;
}

}  // namespace orlimo
