// The shortcut plan: which files, targets, arguments and writers, in order.
#include "core/shortcuts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orlimo {
namespace {

const char kPortal[] = "\\\xE4\xBC\x81\xE4\xB8\x9A\xE7\xAE\xA1\xE7\x90\x86.lnk";  // \企业管理.lnk
const char kMail[] = "\\Outlook\xE9\x82\xAE\xE4\xBB\xB6\xE5\xAE\xA2\xE6\x88\xB7\xE7\xAB\xAF.lnk";

void ExpectStep(const ShortcutStep& step, ShortcutFolder folder, const std::string& name,
                const std::string& target, const std::string& arguments, ShortcutWriter writer) {
    EXPECT_EQ(step.folder, folder);
    EXPECT_EQ(step.file_name, name);
    EXPECT_EQ(step.target, target);
    EXPECT_EQ(step.arguments, arguments);
    EXPECT_EQ(step.writer, writer);
}

TEST(ShortcutPlan, FiveStepsInOrder) {
    const char kIe[] = "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";
    const char kOe[] = "C:\\Program Files\\Outlook Express\\msimn.exe";
    const struct {
        int32_t port;
        std::string login;
    } cases[] = {
        {80, "http://portal.example/velsa/login.jsp"},
        {8080, "http://portal.example:8080/velsa/login.jsp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("port " + std::to_string(c.port));
        Settings s;
        s.server = "portal.example";
        s.server_port = c.port;
        const std::vector<ShortcutStep> plan = AllShortcutsPlan(s);
        ASSERT_EQ(plan.size(), 5u);
        ExpectStep(plan[0], ShortcutFolder::Desktop, kPortal, kIe, c.login, ShortcutWriter::PortalLink);
        ExpectStep(plan[1], ShortcutFolder::StartMenu, kPortal, kIe, c.login, ShortcutWriter::PortalLink);
        ExpectStep(plan[2], ShortcutFolder::QuickLaunch, kPortal, kIe, c.login, ShortcutWriter::PortalLink);
        ExpectStep(plan[3], ShortcutFolder::QuickLaunch, kMail, kOe, "", ShortcutWriter::PlainLink);
        ExpectStep(plan[4], ShortcutFolder::StartMenu, kMail, kOe, "", ShortcutWriter::PlainLink);
    }
}

TEST(ShortcutPlan, SingleCommandsWriteOnlyThePortalLink) {
    Settings s;
    s.server = "h";
    s.server_port = 0;
    for (ShortcutFolder f : {ShortcutFolder::DesktopDirectory, ShortcutFolder::StartMenu,
                             ShortcutFolder::QuickLaunch}) {
        ExpectStep(PortalShortcutStep(f, s), f, kPortal, kBrowserTarget, "http://h:0/velsa/login.jsp",
                   ShortcutWriter::PortalLink);
    }
    s.server = "";
    s.server_port = 80;
    EXPECT_EQ(PortalShortcutStep(ShortcutFolder::Desktop, s).arguments, "http:///velsa/login.jsp");
}

}  // namespace
}  // namespace orlimo
