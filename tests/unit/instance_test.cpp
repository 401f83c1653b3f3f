// The session's instance name on the bus: one per login session, always a
// valid bus name, and never the same for two sessions.
#include "core/instance.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace orlimo {
namespace {

// What the bus daemon accepts: elements of [A-Za-z0-9_-], none empty or
// starting with a digit, at most 255 bytes.
bool ValidBusName(const std::string& name) {
    if (name.empty() || name.size() > 255) return false;
    bool element_start = true;
    for (char c : name + ".") {
        const bool digit = c >= '0' && c <= '9';
        if (c == '.') {
            if (element_start) return false;
            element_start = true;
            continue;
        }
        if (!(digit || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-')) return false;
        if (element_start && digit) return false;
        element_start = false;
    }
    return true;
}

TEST(InstanceBusName, OnePerSessionAndAlwaysValid) {
    const std::string base = "com.dunlore.orlimo";
    const struct { std::string id, name; } cases[] = {
        {"", base},                              // no session id: as before
        {"2", base + ".s2"},                     // logind's numbers
        {"c1", base + ".sc1"},                   // a greeter's or xrdp's
        {"a-b", base + ".sa_2db"},
        {"a_2db", base + ".sa_5f2db"},           // not the same as "a-b"
        {"\xe4\xb8\xad", base + ".s_e4_b8_ad"},
    };
    std::set<std::string> names;
    for (const auto& c : cases) {
        EXPECT_EQ(InstanceBusName(base, c.id), c.name) << c.id;
        EXPECT_TRUE(ValidBusName(InstanceBusName(base, c.id))) << c.id;
        names.insert(InstanceBusName(base, c.id));
    }
    EXPECT_EQ(names.size(), std::size(cases));

    // Too long for a bus name: a hash, still distinct and valid.
    const std::string long_a(300, 'a'), long_b = std::string(299, 'a') + "b";
    EXPECT_TRUE(ValidBusName(InstanceBusName(base, long_a)));
    EXPECT_NE(InstanceBusName(base, long_a), InstanceBusName(base, long_b));
    EXPECT_EQ(InstanceBusName(base, long_a).rfind(base + ".h", 0), 0u);
    EXPECT_TRUE(ValidBusName(InstanceBusName(base, std::string(117, '-'))));
}

}  // namespace
}  // namespace orlimo
