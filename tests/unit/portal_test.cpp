// Portal addresses, the launch command builder, the page-command table and
// the favorites rules.
#include "core/portal.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace orlimo {
namespace {

using namespace std::string_literals;

Settings Make(const std::string& server, int32_t port, int32_t user_id = 7) {
    Settings s;
    s.server = server;
    s.server_port = port;
    s.user_id = user_id;
    return s;
}

// ---- address forms ----

TEST(PortalAddresses, EveryFormWithThePortRule) {
    struct Case {
        int32_t port;
        std::string base;
    } cases[] = {
        {80, "http://h"}, {8080, "http://h:8080"}, {0, "http://h:0"}, {-1, "http://h:-1"},
        {INT32_MIN, "http://h:-2147483648"},
    };
    for (const Case& c : cases) {
        const Settings s = Make("h", c.port, 12);
        SCOPED_TRACE("port " + std::to_string(c.port));
        EXPECT_EQ(ServerBase(s), c.base);
        EXPECT_EQ(PortalPageUrl(s, "/mail/compose.jsp"),
                  c.base + "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=/mail/compose.jsp");
        EXPECT_EQ(UserHomeUrl(s), c.base + "/velsa/home/myhome.jsp?user_id=12");
        EXPECT_EQ(UserExchangeUrl(s), c.base + "/velsa/exchangefwd.jsp?user_id=12");
        EXPECT_EQ(PersonalDataUrl(s),
                  c.base + "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=/mypage/pri_mod.jsp#modify");
        EXPECT_EQ(LoginUrl(s), c.base + "/velsa/login.jsp");
        EXPECT_EQ(NotifyQueryUrl(s), c.base + "/velsa/home/notifyMsg.jsp?usr_id=12&ver=1");
        EXPECT_EQ(ServerRootUrl(s), "http://h");  // never a port
    }
}

TEST(PortalAddresses, TlsByPort443OrHttpsServer) {
    const struct {
        const char* server;
        int32_t port;
        const char* base;
        const char* root;
    } cases[] = {
        {"h", 443, "https://h", "https://h"},
        {"https://h", 80, "https://h", "https://h"},  // the default port means HTTPS's
        {"https://h", 443, "https://h", "https://h"},
        {"https://h", 8443, "https://h:8443", "https://h"},
        {"https://h", 0, "https://h:0", "https://h"},
        {"http://h", 443, "https://http://h", "https://http://h"},  // written as it stands
        {"HTTPS://h", 80, "http://HTTPS://h", "http://HTTPS://h"},
        {"https:/h", 8080, "http://https:/h:8080", "http://https:/h"},
        {"https://", 443, "https://", "https://"},
    };
    for (const auto& c : cases) {
        const Settings s = Make(c.server, c.port, 12);
        SCOPED_TRACE(std::string(c.server) + " port " + std::to_string(c.port));
        EXPECT_EQ(ServerBase(s), c.base);
        EXPECT_EQ(LoginUrl(s), std::string(c.base) + "/velsa/login.jsp");
        EXPECT_EQ(NotifyQueryUrl(s), std::string(c.base) + "/velsa/home/notifyMsg.jsp?usr_id=12&ver=1");
        EXPECT_EQ(PageCommandUrl(*FindPageCommand(32780), s),
                  std::string(c.base) + "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=/message/ch_memobox.jsp");
        EXPECT_EQ(ServerRootUrl(s), c.root);
        EXPECT_EQ(UsesTls(s), std::string(c.base).rfind("https://", 0) == 0);
    }
}

TEST(PortalAddresses, UserIdSignedAndServerVerbatim) {
    EXPECT_EQ(UserHomeUrl(Make("h", 80, 0)), "http://h/velsa/home/myhome.jsp?user_id=0");
    EXPECT_EQ(UserExchangeUrl(Make("h", 80, -5)), "http://h/velsa/exchangefwd.jsp?user_id=-5");
    EXPECT_EQ(NotifyQueryUrl(Make("h", 80, -5)), "http://h/velsa/home/notifyMsg.jsp?usr_id=-5&ver=1");
    EXPECT_EQ(LoginUrl(Make("", 80)), "http:///velsa/login.jsp");
    EXPECT_EQ(ServerRootUrl(Make("", 8080)), "http://");
    EXPECT_EQ(NotifyQueryUrl(Make("", 8080, 1)), "http://:8080/velsa/home/notifyMsg.jsp?usr_id=1&ver=1");
    EXPECT_EQ(LoginUrl(Make("a b&c", 80)), "http://a b&c/velsa/login.jsp");
    // A page path with its own queries is appended unchanged.
    EXPECT_EQ(PortalPageUrl(Make("h", 80), "/x.jsp?a=1&b=/y.jsp?c=2"),
              "http://h/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=/x.jsp?a=1&b=/y.jsp?c=2");
}

// ---- what may be launched ----

TEST(LaunchableAddress, RefusesOnlyEmptyControlBytesAndOverlong) {
    const std::string longest = "http://h/" + std::string(kMaxLaunchAddress - 9, 'a');
    const struct {
        std::string address;
        bool launched;
    } cases[] = {
        {"http://h/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=/mail/compose.jsp", true},
        {"http://h/\xC6\xF3\xD2\xB5", true},
        // What only a command interpreter would read: plain text for the shell.
        {"http://x/\"&calc&\"", true},
        {"http://h/%USERNAME%&echo x>y", true},
        {"/dC:\\ calc", true},
        {longest, true},
        {"", false},
        {longest + "a", false},
        {"http://h/\r", false},
        {"http://h/\ncalc", false},
        {"http://h/\tx", false},
        {"http://h/\x7F", false},
        {"http://h/\x01", false},
        {"http://h/\0calc"s, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LaunchableAddress(c.address), c.launched) << c.address.substr(0, 80);
    }
}

// ---- page commands ----

TEST(PageCommands, AllThirtyOneAddresses) {
    const std::string login = "http://h/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=";
    const struct {
        int id;
        std::string url;
    } expected[] = {
        {32791, login + "/mail/compose.jsp"},
        {32783, login + "/mail/mail_list.jsp"},
        {32820, login + "/kldg_private/mynotes.jsp?op=write"},
        {32821, login + "/kldg_private/mynotes.jsp?op=read"},
        {32784, login + "/portal/inform/index.jsp"},
        {32785, login + "/address/index.jsp"},
        {32800, login + "/calendar/index.jsp"},
        {32787, login + "/cop/dept_cop_home.jsp"},
        {32786, login + "/portal/board/index.jsp"},
        {32789, login + "/kldg/pkldg.jsp"},
        {32790, login + "/kldg/index.jsp"},
        {32815, login + "/cop/index.jsp"},
        {32816, login + "/sign/index.jsp"},
        {32803, login + "/mrpt/menu_index.jsp"},
        {32817, login + "/mrpt/menu_index.jsp?page_url=/mrpt/sales/order_edit.jsp?ordertype=2"},
        {32804, login + "/mrpt/menu_index.jsp?page_url=/mrpt/sales/order_edit.jsp"},
        {32805, login + "/mrpt/menu_index.jsp?page_url=/mrpt/stock/inout_list.jsp"},
        {32806, login + "/mrpt/menu_index.jsp?page_url=/mrpt/finance/invoice_list.jsp"},
        {32812, login + "/mrpt/menu_index.jsp?page_url=/mrpt/finance/pay_list.jsp"},
        {32807, login + "/mrpt/menu_index.jsp?page_url=/mrpt/sales/partner_list.jsp"},
        {32810, login + "/mrpt/menu_index.jsp?page_url=/mrpt/report/report.jsp"},
        {32813, login + "/mrpt/menu_index.jsp?page_url=/mrpt/report/payable.jsp"},
        {32818, login + "/mrpt/menu_index.jsp?page_url=/mrpt/sales/doc_list.jsp?doc_type=activity"},
        {32814, login + "/mrpt/menu_index.jsp?page_url=/mrpt/sales/doc_list.jsp?doc_type=contract"},
        {32808, login + "/mrpt/stock/pro_index.jsp"},
        {32809, login + "/mrpt/menu_index.jsp?page_url=/mrpt/stock/storage_list.jsp"},
        {32811, login + "/mrpt_admin/index.jsp"},
        {32819, "http://h/velsa/exchangefwd.jsp?user_id=7"},
        {32801, "http://h/velsa/home/myhome.jsp?user_id=7"},
        {32779, login + "/message/ch_sendmemo.jsp"},
        {32780, login + "/message/ch_memobox.jsp"},
    };
    static_assert(sizeof(expected) / sizeof(expected[0]) == 31, "31 commands");
    const Settings s80 = Make("h", 80);
    const Settings s8080 = Make("h", 8080);
    std::set<int> ids;
    for (const auto& e : expected) {
        SCOPED_TRACE("id " + std::to_string(e.id));
        const PageCommand* cmd = FindPageCommand(e.id);
        ASSERT_NE(cmd, nullptr);
        EXPECT_EQ(cmd->id, e.id);
        EXPECT_EQ(PageCommandUrl(*cmd, s80), e.url);
        // Every command's address also follows the port rule.
        std::string with_port = e.url;
        with_port.insert(std::string("http://h").size(), ":8080");
        EXPECT_EQ(PageCommandUrl(*cmd, s8080), with_port);
        EXPECT_TRUE(LaunchableAddress(e.url));
        ids.insert(e.id);
    }
    EXPECT_EQ(ids.size(), 31u);
    std::set<int> table_ids;
    for (const PageCommand& cmd : kPageCommands) table_ids.insert(cmd.id);
    EXPECT_EQ(table_ids, ids);  // unique, and exactly these
    EXPECT_EQ(FindPageCommand(32781), nullptr);  // a favorite
    EXPECT_EQ(FindPageCommand(0), nullptr);
    EXPECT_EQ(FindPageCommand(57665), nullptr);
}

// ---- favorites ----

TEST(Favorites, IdsInMenuOrder) {
    const int ids[kFavoriteCount] = {32781, 32782, 32792, 32793, 32794, 32795, 32796,
                                     32797, 32798, 32799, 32829, 32822, 32823, 32824,
                                     32825, 32826, 32827, 32828, 32830, 32831};
    for (int i = 0; i < kFavoriteCount; ++i) {
        EXPECT_EQ(kFavoriteIds[i], ids[i]);
        EXPECT_EQ(FavoriteNumber(ids[i]), i + 1);
        EXPECT_EQ(FindPageCommand(ids[i]), nullptr);
    }
    EXPECT_EQ(FavoriteNumber(32780), 0);
    EXPECT_EQ(FavoriteNumber(32832), 0);
    EXPECT_EQ(FavoriteNumber(0), 0);
}

// Expected update outcome, written compactly.
enum class View { Default1, Unchanged, Disabled, Caption, EnabledCaption };

void ExpectView(const FavoriteView& v, View kind, const std::string& caption) {
    switch (kind) {
        case View::Default1:
            EXPECT_FALSE(v.set_enabled);
            EXPECT_TRUE(v.set_text);
            EXPECT_EQ(v.text, "Dunlore");
            break;
        case View::Unchanged:
            EXPECT_FALSE(v.set_enabled);
            EXPECT_FALSE(v.set_text);
            break;
        case View::Disabled:
            EXPECT_TRUE(v.set_enabled);
            EXPECT_FALSE(v.enabled);
            EXPECT_TRUE(v.set_text);
            EXPECT_EQ(v.text, "");
            break;
        case View::Caption:
            EXPECT_FALSE(v.set_enabled);
            EXPECT_TRUE(v.set_text);
            EXPECT_EQ(v.text, caption);
            break;
        case View::EnabledCaption:
            EXPECT_TRUE(v.set_enabled);
            EXPECT_TRUE(v.enabled);
            EXPECT_TRUE(v.set_text);
            EXPECT_EQ(v.text, caption);
            break;
    }
}

TEST(Favorites, NoBookmarkAtAll) {
    const BookmarkList none;
    for (int n = 1; n <= kFavoriteCount; ++n) {
        SCOPED_TRACE("entry " + std::to_string(n));
        const FavoriteView v = FavoriteUpdate(n, none);
        ExpectView(v, n == 1 ? View::Default1 : n == 2 ? View::Unchanged : View::Disabled, "");
        const std::optional<std::string> target = FavoriteTarget(n, none);
        if (n == 1) {
            ASSERT_TRUE(target.has_value());
            EXPECT_EQ(*target, ORLIMO_MAKER_URL);
        } else {
            EXPECT_FALSE(target.has_value());
        }
    }
}

TEST(Favorites, CaptionAndAddressRulesByPlace) {
    const std::string kNone = "<none>";
    const std::string kDefault = ORLIMO_MAKER_URL;
    struct Case {
        std::string entry;
        int place;
        View view;
        std::string caption;
        std::string target;  // kNone when nothing opens
    } cases[] = {
        {"Cap|http://h/a", 3, View::EnabledCaption, "Cap", "http://h/a"},
        {"Cap|http://h/a", 1, View::Caption, "Cap", "http://h/a"},
        {"Cap|http://h/a", 2, View::Caption, "Cap", "http://h/a"},
        {"Sec|https://h/", 3, View::EnabledCaption, "Sec", "https://h/"},
        {"Sec|https://h/", 1, View::Caption, "Sec", "https://h/"},
        {"Sec|https://h/", 2, View::Caption, "Sec", "https://h/"},
        {"Sec| https://h/s ", 7, View::EnabledCaption, "Sec", "https://h/s"},
        {"Ftp|ftps://h/", 3, View::EnabledCaption, "Ftp", kNone},
        {"Ftp|ftps://h/", 1, View::Caption, "Ftp", kDefault},
        {"Up|HTTP://H/", 4, View::EnabledCaption, "Up", kNone},
        {"Up|HTTP://H/", 1, View::Caption, "Up", kDefault},
        {"Up|HTTP://H/", 2, View::Caption, "Up", kNone},
        // Another scheme that only holds a web address later opens nothing.
        {"Src|view-source:http://h/", 5, View::EnabledCaption, "Src", kNone},
        {"Find|search-ms:query=x&crumb=location:http://h/", 1, View::Caption, "Find", kDefault},
        {"Go|xhttp://h/", 4, View::EnabledCaption, "Go", kNone},
        {"|http://h/v", 3, View::Disabled, "", "http://h/v"},  // disabled, so never chosen
        {"|http://h/v", 1, View::Default1, "", "http://h/v"},
        {"|http://h/v", 2, View::Unchanged, "", "http://h/v"},
        {" Two words here |http://h/ x", 6, View::EnabledCaption, " Two words here ", "http://h/ x"},
        // Blanks around the address are not part of it.
        {"Mail| http://mail/ \t", 6, View::EnabledCaption, "Mail", "http://mail/"},
        {"Mail|  \t ", 1, View::Caption, "Mail", kDefault},
        {"&Mail|http://h/m|n", 20, View::EnabledCaption, "&Mail", "http://h/m|n"},
        {"nobar http://h/", 3, View::Disabled, "", kNone},
        {"nobar http://h/", 1, View::Default1, "", kDefault},
        {"nobar http://h/", 2, View::Unchanged, "", kNone},
        {"Cap|", 7, View::EnabledCaption, "Cap", kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("entry '" + c.entry + "' in place " + std::to_string(c.place));
        std::string value;
        for (int i = 1; i < c.place; ++i) value += "P|x=";
        value += c.entry + "=T|http://t/";  // a lone entry without "=" would vanish
        BookmarkList b;
        b.SplitBookmarks(value);
        ExpectView(FavoriteUpdate(c.place, b), c.view, c.caption);
        const std::optional<std::string> target = FavoriteTarget(c.place, b);
        if (c.target == kNone) {
            EXPECT_FALSE(target.has_value());
        } else {
            ASSERT_TRUE(target.has_value());
            EXPECT_EQ(*target, c.target);
        }
    }
}

TEST(Favorites, LoneEntryWithoutEqualsSignIsItsOneFavorite) {
    BookmarkList b;
    b.SplitBookmarks("Mail|http://mail.example.com/");
    ExpectView(FavoriteUpdate(1, b), View::Caption, "Mail");
    EXPECT_EQ(FavoriteTarget(1, b).value_or(""), "http://mail.example.com/");
    ExpectView(FavoriteUpdate(3, b), View::Disabled, "");
    b.SplitBookmarks("Sec|https://h/");
    EXPECT_EQ(FavoriteTarget(1, b).value_or(""), "https://h/");
}

TEST(Favorites, TwentyFiveEntriesShowTheFirstTwenty) {
    std::string value;
    for (int i = 1; i <= 25; ++i) {
        value += (i > 1 ? "=" : "") + ("C" + std::to_string(i)) + "|http://h/" + std::to_string(i);
    }
    BookmarkList b;
    b.SplitBookmarks(value);
    for (int n = 1; n <= kFavoriteCount; ++n) {
        const FavoriteView v = FavoriteUpdate(n, b);
        EXPECT_EQ(v.text, "C" + std::to_string(n));
        EXPECT_EQ(v.set_enabled, n >= 3);
        EXPECT_EQ(FavoriteTarget(n, b).value_or(""), "http://h/" + std::to_string(n));
    }
    // Out-of-range entry numbers change nothing and open nothing.
    for (int n : {0, 21, -1}) {
        const FavoriteView v = FavoriteUpdate(n, b);
        EXPECT_FALSE(v.set_enabled || v.set_text);
        EXPECT_FALSE(FavoriteTarget(n, b).has_value());
    }
}

}  // namespace
}  // namespace orlimo
