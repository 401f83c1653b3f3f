#include "core/limits.h"

namespace orlimo {
namespace {

bool HasControlByte(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

const SettingField kSettingFields[5] = {
    {kServerBit, "server", &Settings::server, nullptr},
    {kUserIdBit, "user_id", nullptr, &Settings::user_id},
    {kIntervalBit, "interval_time", nullptr, &Settings::interval_time},
    {kPortBit, "server_port", nullptr, &Settings::server_port},
    {kBookmarkBit, "bookmark", &Settings::bookmark, nullptr},
};

const ManagedValue* FindManagedValue(const std::string& name) {
    for (const ManagedValue& v : kManagedValues)
        if (name == v.name) return &v;
    return nullptr;
}

const ManagedValue& Limit(const char* name) { return *FindManagedValue(name); }

std::string ServerRefusal(const std::string& server) {
    const bool tls = server.compare(0, 8, "https://") == 0;
    const std::string host = tls ? server.substr(8) : server;
    if (host.empty()) return "no host";
    if (HasControlByte(server)) return "a control character";
    if (host.find(' ') != std::string::npos) return "a blank";
    if (host.find_first_of("/\\?#") != std::string::npos) return "not a host (\"/\", \"\\\", \"?\" or \"#\")";
    return std::string();
}

std::string NumberRefusal(const ManagedValue& value, int64_t number) {
    if (number >= value.min && number <= value.max) return std::string();
    return "not from " + std::to_string(value.min) + " to " + std::to_string(value.max);
}

std::string BookmarkRefusal(const std::string& bookmark) {
    return HasControlByte(bookmark) ? "a control character" : std::string();
}

std::string FieldRefusal(const SettingField& f, const Settings& values) {
    if (f.bit == kServerBit) return ServerRefusal(values.server);
    if (f.bit == kBookmarkBit) return BookmarkRefusal(values.bookmark);
    return NumberRefusal(Limit(f.key), values.*f.number);
}

bool WholeNumber(const std::string& text, int64_t min, int64_t max, int64_t* value) {
    size_t i = 0;
    const bool negative = min < 0 && !text.empty() && text[0] == '-';
    if (negative) i = 1;
    // At most ten digits: every limit fits in 32 bits.
    if (i == text.size() || text.size() - i > 10) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    if (negative) v = -v;
    if (v < min || v > max) return false;
    *value = v;
    return true;
}

}  // namespace orlimo
