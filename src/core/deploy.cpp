#include "core/deploy.h"

#include <cstdint>

#include "core/limits.h"
#include "core/settings.h"

namespace orlimo {
namespace {

// A number as given, in the range of its managed value.
bool Given(const std::string& text, const char* name, int64_t* value) {
    const ManagedValue& limit = Limit(name);
    return WholeNumber(text, limit.min, limit.max, value);
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
    int64_t v = 0;
    if (!given.server.empty() && !ServerRefusal(given.server).empty()) {
        result.error = DeployError::BadServer;
    } else if (!given.port.empty() && !Given(given.port, "server_port", &v)) {
        result.error = DeployError::BadPort;
    } else if (!given.interval.empty() && !Given(given.interval, "interval_time", &v)) {
        result.error = DeployError::BadInterval;
    } else if (!given.user_id.empty() && !Given(given.user_id, "user_id", &v)) {
        result.error = DeployError::BadUserId;
    } else if (!BookmarkRefusal(given.bookmarks).empty()) {
        result.error = DeployError::BadBookmarks;
    }
    if (result.error != DeployError::None) return result;

    if (!given.server.empty()) s.server = given.server;
    if (Given(given.port, "server_port", &v)) s.server_port = static_cast<int32_t>(v);
    if (Given(given.interval, "interval_time", &v)) s.interval_time = static_cast<int32_t>(v);
    if (Given(given.user_id, "user_id", &v)) s.user_id = static_cast<int32_t>(v);
    if (!given.bookmarks.empty()) s.bookmark = given.bookmarks;
    if (existing && !given.AnyGiven()) return result;  // kept byte for byte
    if (s.server.empty()) {
        result.error = DeployError::BadServer;
        return result;
    }
    // An editor's UTF-8 file stays so, with its mark when it had one (the
    // given values come in UTF-8 then).
    result.file = SettingsFileBytes(s, existing ? DetectEncoding(*existing) : FileEncoding::Native);
    return result;
}

}  // namespace orlimo
