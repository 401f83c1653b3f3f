// What an administrator's value may be before it reaches users: the
// installer packages' properties, the shared settings file's later changes
// and the policies are all held to these limits. (A user's own values, typed
// in the settings dialog or into their file, are not.)
#pragma once
#include <cstdint>
#include <string>

#include "core/settings.h"

namespace orlimo {

// The values an administrator may set, by their settings-file keys (which
// are the policies' registry value names and the policy file's keys too).
// tests/release/policy_templates.py reads this table to check the policy
// templates: keep one entry a line.
enum class ValueKind { Text, Number };
struct ManagedValue {
    const char* name;
    ValueKind kind;
    int64_t min, max;  // a number's range
    bool machine;      // may be set for every user of a machine
    bool user;         // may be set for one user
};
inline constexpr ManagedValue kManagedValues[] = {
    {"server", ValueKind::Text, 0, 0, true, true},
    {"server_port", ValueKind::Number, 1, 65535, true, true},
    {"interval_time", ValueKind::Number, 1, 1440, true, true},
    {"user_id", ValueKind::Number, 0, 2147483647, false, true},
    {"bookmark", ValueKind::Text, 0, 0, true, true},
    {"autorun", ValueKind::Number, 0, 1, true, true},
};
const ManagedValue* FindManagedValue(const std::string& name);
const ManagedValue& Limit(const char* name);  // one of the table's names

// The five settings of the file, as bits of a set (which ones a policy
// locks, say) and with their keys.
enum SettingBit : unsigned {
    kServerBit = 1,
    kUserIdBit = 2,
    kIntervalBit = 4,
    kPortBit = 8,
    kBookmarkBit = 16,
};
struct SettingField {
    SettingBit bit;
    const char* key;
    std::string Settings::*text;  // for server and bookmark, else null
    int32_t Settings::*number;    // for the three numbers, else null
};
extern const SettingField kSettingFields[5];

// Why a value is refused, in a few words; empty when it is accepted.
//   server: a host, or "https://" and a host (a portal over TLS), not empty,
//           without blanks, control characters or "/ \ ? #";
//   numbers: within their ManagedValue range;
//   bookmark: any text the favorites parser reads, so no control
//           characters (a line end would end the value).
std::string ServerRefusal(const std::string& server);
std::string NumberRefusal(const ManagedValue& value, int64_t number);
std::string BookmarkRefusal(const std::string& bookmark);
// The refusal of a file's value of field f (text or number).
std::string FieldRefusal(const SettingField& f, const Settings& values);

// A whole number written as such: decimal digits, a leading "-" only where
// negative numbers exist, within [min, max].
bool WholeNumber(const std::string& text, int64_t min, int64_t max, int64_t* value);

}  // namespace orlimo
