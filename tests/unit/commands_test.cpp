// The table of tray-menu commands that both front ends route through: the
// ids of the resource script reach the right command, and each command
// does what it should in terms of the core.
#include "core/activation.h"
#include "core/commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"

namespace orlimo {
namespace {

struct RecordingTarget : CommandTarget {
    bool Offers(Command command) const override { return command != Command::ShortcutQuickLaunch; }
    void OpenUrl(const std::string& address) override { calls.push_back("open " + address); }
    void OnSettings() override { calls.push_back("settings"); }
    void OnAutoRun() override { calls.push_back("autorun"); }
    int32_t AutorunFlag() override { return autorun_flag; }
    bool AutorunLocked() const override { return autorun_locked; }
    void OnNotifierUpdate() override { calls.push_back("update"); }
    void OnAbout() override { calls.push_back("about"); }
    void OnAppExit() override { calls.push_back("exit"); }
    void OnShortcut(Command which) override { calls.push_back("shortcut " + std::to_string(int(which))); }

    std::vector<std::string> calls;
    int32_t autorun_flag = 1;
    bool autorun_locked = false;
};

struct RecordingUI : CmdUI {
    explicit RecordingUI(int id) : id(id) {}
    int Id() const override { return id; }
    void Enable(bool on) override { calls.push_back(on ? "enable" : "disable"); }
    void SetCheck(bool on) override { calls.push_back(on ? "check" : "uncheck"); }
    void SetText(const std::string& text) override { calls.push_back("text " + text); }

    int id;
    std::vector<std::string> calls;
};

TEST(CommandTable, EachIdRunsItsCommandAndNothingElse) {
    Settings s;
    s.server = "h";
    s.server_port = 8080;
    s.user_id = 7;
    BookmarkList bookmarks;
    bookmarks.SplitBookmarks("|http://a=Two|ftp://b=Three| https://c ");
    const std::string shortcut = "shortcut ";
    const struct {
        int id;
        bool handled;
        std::vector<std::string> calls;
    } cases[] = {
        {ID_SEND_MAIL, true,
         {"open http://h:8080/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=/mail/compose.jsp"}},
        {ID_FAV1, true, {"open http://a"}},
        {ID_FAV2, true, {}},  // an address the browser must not be given
        {ID_FAV3, true, {"open https://c"}},
        {ID_FAV4, true, {}},
        {ID_TRAY_CONFIG, true, {"settings"}},
        {ID_SETTINGS, true, {"settings"}},
        {ID_TRAY_CLOSE, true, {}},
        {ID_FILE_NEW, true, {}},
        {ID_FILE_OPEN, true, {}},
        {ID_AUTORUN, true, {"autorun"}},
        {ID_NOTIFIER_UPDATE, true, {"update"}},
        {ID_PORTAL_HOME, true, {"open http://h"}},
        {ID_APP_ABOUT, true, {"about"}},
        {ID_APP_EXIT, true, {"exit"}},
        {ID_SHORTCUT_DESKTOP, true, {shortcut + std::to_string(int(Command::ShortcutDesktop))}},
        {ID_SHORTCUT_STARTMENU, true, {shortcut + std::to_string(int(Command::ShortcutStartMenu))}},
        {ID_SHORTCUT_ALL, true, {shortcut + std::to_string(int(Command::ShortcutAll))}},
        {ID_SHORTCUT_QUICKLAUNCH, false, {}},  // not offered by this front end
        {ID_EDIT_COPY, false, {}},
        {0, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("id " + std::to_string(c.id));
        RecordingTarget target;
        EXPECT_EQ(HasCommandHandler(c.id, target), c.handled);
        EXPECT_EQ(OnCmdMsg(c.id, s, bookmarks, target), c.handled);
        EXPECT_EQ(target.calls, c.calls);
    }
}

TEST(CommandTable, UpdateShowsTheAutorunMarkAndTheFavorites) {
    BookmarkList bookmarks;
    bookmarks.SplitBookmarks("|http://a=Two|ftp://b=Three|http://c");
    const struct {
        int id;
        int32_t autorun_flag;
        bool handled;
        std::vector<std::string> calls;
    } cases[] = {
        {ID_AUTORUN, 1, true, {"check"}},
        {ID_AUTORUN, 0, true, {"uncheck"}},
        {ID_FAV1, 1, true, {"text Dunlore"}},
        {ID_FAV2, 1, true, {"text Two"}},
        {ID_FAV3, 1, true, {"enable", "text Three"}},
        {ID_FAV4, 1, true, {"disable", "text "}},
        {ID_SEND_MAIL, 1, false, {}},
        {ID_SETTINGS, 1, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("id " + std::to_string(c.id));
        RecordingTarget target;
        target.autorun_flag = c.autorun_flag;
        RecordingUI ui(c.id);
        EXPECT_EQ(OnUpdateCmdUI(ui, bookmarks, target), c.handled);
        EXPECT_EQ(ui.calls, c.calls);
    }
    // Where a policy sets autorun, the item is greyed and does nothing.
    RecordingTarget locked;
    locked.autorun_locked = true;
    RecordingUI ui(ID_AUTORUN);
    OnUpdateCmdUI(ui, bookmarks, locked);
    EXPECT_EQ(ui.calls, (std::vector<std::string>{"check", "disable"}));
    EXPECT_TRUE(OnCmdMsg(ID_AUTORUN, Settings(), bookmarks, locked));
    EXPECT_EQ(locked.calls, std::vector<std::string>{});
}

// A double click is one activation on some hosts and two on others: either
// way the login page opens once; slower clicks each open it. A clock that
// went back (a resumed machine's) never swallows an activation.
TEST(ActivationGateTest, OneOpeningPerDoubleClick) {
    struct Case { int64_t interval; std::vector<int64_t> at; std::vector<bool> opens; };
    const Case cases[] = {
        {400, {1000, 1200}, {true, false}},
        {400, {1000, 1399, 1400}, {true, false, true}},
        {400, {1000, 1300, 1600, 1800}, {true, false, true, false}},
        {0, {0, 499, 500}, {true, false, true}},     // unknown interval: 500 ms
        {-5, {10, 20}, {true, false}},
        {400, {5000, 100}, {true, true}},            // the clock went back
    };
    for (const Case& c : cases) {
        ActivationGate gate;
        for (size_t i = 0; i < c.at.size(); ++i)
            EXPECT_EQ(gate.Take(c.at[i], c.interval), c.opens[i]) << "interval " << c.interval << ", at " << c.at[i];
    }
}

}  // namespace
}  // namespace orlimo
