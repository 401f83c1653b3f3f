// The autorun command against a registry that may refuse.
#include "core/autorun.h"

#include <gtest/gtest.h>

namespace orlimo {
namespace {

struct FakeRunValue : RunValuePort {
    bool present = false;
    bool writable = true;
    void Write() override { present = present || writable; }
    void Remove() override { present = present && !writable; }
    bool Present() override { return present; }
};

TEST(ToggleAutorun, MarkFollowsTheRegistryAndRefusalsAreReported) {
    const struct {
        const char* name;
        int32_t flag;
        bool present, writable;
        int32_t flag_after;
        bool present_after, refused;
    } cases[] = {
        {"off as asked", 1, true, true, 0, false, false},
        {"on as asked", 0, false, true, 1, true, false},
        {"standard user cannot remove it: stays on", 1, true, false, 1, true, true},
        {"standard user cannot write it: stays off", 0, false, false, 0, false, true},
        {"already removed by someone else", 1, false, false, 0, false, false},
        {"already written by someone else", 0, true, false, 1, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRunValue run;
        run.present = c.present;
        run.writable = c.writable;
        AutorunToggle t = ToggleAutorun(c.flag, run);
        EXPECT_EQ(t.autorun_flag, c.flag_after);
        EXPECT_EQ(run.present, c.present_after);
        EXPECT_EQ(t.refused, c.refused);
    }
}

TEST(EnforceAutorun, TheValueSaysWhatThePolicySaysWhereItCan) {
    const struct {
        bool policy, present, writable, present_after;
    } cases[] = {
        {false, true, true, false}, {true, false, true, true}, {true, true, false, true},
        {false, true, false, true},  // a standard user: the value stays, and the mark shows it
    };
    for (const auto& c : cases) {
        FakeRunValue run;
        run.present = c.present;
        run.writable = c.writable;
        EXPECT_EQ(EnforceAutorun(c.policy, run), c.present_after);
        EXPECT_EQ(run.present, c.present_after);
    }
}

TEST(ParseAutorunRequest, OnlyTheTwoArgumentsAskForAChange) {
    const struct {
        const char* arguments;
        AutorunRequest request;
    } cases[] = {
        {"/autorun=on", AutorunRequest::On},
        {"  /autorun=off\t", AutorunRequest::Off},
        {"", AutorunRequest::None},
        {"/autorun", AutorunRequest::None},
        {"/autorun=ON", AutorunRequest::None},
        {"/autorun=on x", AutorunRequest::None},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseAutorunRequest(c.arguments), c.request) << c.arguments;
}

}  // namespace
}  // namespace orlimo
