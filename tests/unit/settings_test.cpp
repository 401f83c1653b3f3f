// Settings file: atoi rule, dialog integers, line and file reading,
// bookmark splitting and accessors, the writer.
#include "core/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace orlimo {
namespace {

using namespace std::string_literals;

struct IntCase {
    std::string text;
    int32_t expected;
};

TEST(AtoiRule, FollowsAtoiAndWrapsIn32Bits) {
    const IntCase cases[] = {
        {"", 0},
        {"0", 0},
        {"42", 42},
        {" 42", 42},
        {" \t\n\v\f\r7", 7},
        {"+5", 5},
        {"-5", -5},
        {"12abc", 12},
        {"abc", 0},
        {"- 5", 0},
        {"+-5", 0},
        {"--5", 0},
        {"42 ", 42},
        {"4 2", 4},
        {"\x1c" "5", 0},  // not white space in the C locale
        {"1\0" "2"s, 1},
        {"0x10", 0},
        {"007", 7},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MIN},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MAX},
        {"4294967296", 0},
        {"4294967297", 1},
        {"99999999999999999999", 1661992959},
        {"-99999999999999999999", -1661992959},
        {std::string(40, '1'), -954437177},
        {std::string(100000, '0') + "12", 12},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(AtoiRule(c.text), c.expected) << "text: '" << c.text << "'";
    }
}

TEST(ParseDialogInteger, AcceptsBlanksSignDigitsOnly) {
    const IntCase accepted[] = {
        {"81", 81},         {" 81 ", 81},         {"\t-5\t", -5},      {"+7", 7},
        {"-5", -5},         {"0", 0},             {"-0", 0},           {"  0012  ", 12},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
    };
    for (const IntCase& c : accepted) {
        int32_t value = 999;
        EXPECT_TRUE(ParseDialogInteger(c.text, &value)) << "'" << c.text << "'";
        EXPECT_EQ(value, c.expected) << "'" << c.text << "'";
    }
    const std::string refused[] = {
        "", " ", "\t", "-", "+", "8o", "o8", "+ 5", "5 5", "0x10", "1.5", "\n5", "5\r",
        "--5", "2147483648", "-2147483649", "99999999999999999999", "5\0"s,
    };
    for (const std::string& text : refused) {
        int32_t value = 999;
        EXPECT_FALSE(ParseDialogInteger(text, &value)) << "'" << text << "'";
        EXPECT_EQ(value, 999) << "value changed for '" << text << "'";
    }
}

// ---- reading ----

struct Loaded {
    Settings settings;
    BookmarkList bookmarks;
};

Loaded Load(const std::string& text) {
    Loaded l;
    ApplySettingsText(text, &l.settings, &l.bookmarks);
    return l;
}

TEST(SettingsRead, DefaultsStayForMissingKeys) {
    const Loaded l = Load("server_port=81");
    EXPECT_EQ(l.settings.server, ORLIMO_DEFAULT_SERVER);
    EXPECT_EQ(l.settings.user_id, 0);
    EXPECT_EQ(l.settings.interval_time, 1);
    EXPECT_EQ(l.settings.server_port, 81);
    EXPECT_EQ(l.settings.bookmark, "");
    EXPECT_TRUE(l.bookmarks.Entries().empty());
}

TEST(SettingsRead, KeysAreExactAndUntrimmed) {
    struct Case {
        std::string line;
        int32_t user_id;
    } cases[] = {
        {"user_id= 42", 42},  {"user_id=42abc", 42}, {"user_id=abc", 0},  {"user_id=-5", -5},
        {"USER_ID=5", 7},     {"user_id =5", 7},     {" user_id=5", 7},   {"User_id=5", 7},
        {"user_id", 7},       {"user_id\t=5", 7},    {"", 7},             {"user_id==5", 0},
    };
    for (const Case& c : cases) {
        Settings s;
        s.user_id = 7;
        BookmarkList b;
        ApplySettingsLine(c.line, &s, &b);
        EXPECT_EQ(s.user_id, c.user_id) << "line: '" << c.line << "'";
    }
    Settings s;
    BookmarkList b;
    ApplySettingsLine("server = x", &s, &b);
    ApplySettingsLine("Server=x", &s, &b);
    EXPECT_EQ(s.server, ORLIMO_DEFAULT_SERVER);
    ApplySettingsLine("server= a=b ", &s, &b);
    EXPECT_EQ(s.server, " a=b ");
    ApplySettingsLine("server=", &s, &b);
    EXPECT_EQ(s.server, "");
}

TEST(SettingsRead, LineEndsAndLastOccurrence) {
    const Loaded l = Load(
        "server=first\r\n"
        "interval_time=5\n"
        "garbage line\r\n"
        "\r\n"
        "server=second\r\r\n"  // only the CR before the LF goes
        "user_id=3\n"
        "user_id=4\r\n"
        "bookmark=A|http://a=B|http://b\n"
        "bookmark=C|http://c\r\n"
        "server_port=8080");  // last line without line end
    EXPECT_EQ(l.settings.server, "second\r");
    EXPECT_EQ(l.settings.interval_time, 5);
    EXPECT_EQ(l.settings.user_id, 4);
    EXPECT_EQ(l.settings.server_port, 8080);
    EXPECT_EQ(l.settings.bookmark, "C|http://c");
    ASSERT_EQ(l.bookmarks.Entries().size(), 1u);  // rebuilt from the last line
    EXPECT_EQ(l.bookmarks.Entries()[0], "C|http://c");
}

TEST(SettingsRead, NulBytesAreOrdinaryAndTrailingCrWithoutLfStays) {
    const Loaded l = Load("server=a\0b\nbookmark=x\0|y=z\r"s);
    EXPECT_EQ(l.settings.server, "a\0b"s);
    EXPECT_EQ(l.settings.bookmark, "x\0|y=z\r"s);
    EXPECT_EQ(l.bookmarks.GetBookmarkCaption(1), "x\0"s);
    EXPECT_EQ(l.bookmarks.GetBookmarkEntry(2), "z\r");
}

TEST(SettingsRead, AnEditorsUtf8MarkIsSkippedAtTheStartOnly) {
    const std::string text = "\xEF\xBB\xBFserver=a\r\n\xEF\xBB\xBFuser_id=5\r\nserver_port=81";
    const Loaded l = Load(text);
    EXPECT_EQ(l.settings.server, "a");
    EXPECT_EQ(l.settings.user_id, 0);  // a mark inside the file is part of its key
    EXPECT_EQ(l.settings.server_port, 81);
    // The same, fed a byte at a time (the mark split over chunks).
    Loaded bytewise;
    SettingsReader reader(&bytewise.settings, &bytewise.bookmarks);
    for (char c : text) reader.Feed(&c, 1);
    reader.Finish();
    EXPECT_EQ(bytewise.settings.server, "a");
    EXPECT_EQ(bytewise.settings.server_port, 81);
    // Half a mark is no mark.
    EXPECT_EQ(Load("\xEF\xBBserver=a").settings.server, ORLIMO_DEFAULT_SERVER);
}

// ---- bookmarks ----

std::vector<std::string> Split(const std::string& value) {
    BookmarkList b;
    b.SplitBookmarks(value);
    return b.Entries();
}

std::string Numbered(int count) {
    std::string v;
    for (int i = 1; i <= count; ++i) v += (i > 1 ? "=" : "") + std::string("e") + std::to_string(i);
    return v;
}

TEST(SplitBookmarks, EntriesAndTheTwentySplitLimit) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Split("A|u1=B|u2"), (V{"A|u1", "B|u2"}));
    EXPECT_EQ(Split("A|u1?x=1"), (V{"A|u1?x", "1"}));
    EXPECT_EQ(Split("Solo|u1"), (V{"Solo|u1"}));  // no "=": the value is its one entry
    EXPECT_EQ(Split(""), (V{""}));
    EXPECT_EQ(Split("A|x="), (V{"A|x", ""}));
    EXPECT_EQ(Split("=A|x"), (V{"", "A|x"}));
    EXPECT_EQ(Split("=="), (V{"", "", ""}));
    EXPECT_EQ(Split("a==b"), (V{"a", "", "b"}));

    const V twenty_one = Split(Numbered(21));
    ASSERT_EQ(twenty_one.size(), 21u);
    EXPECT_EQ(twenty_one[20], "e21");

    const V twenty_five = Split(Numbered(25));
    ASSERT_EQ(twenty_five.size(), 21u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(twenty_five[i], "e" + std::to_string(i + 1));
    EXPECT_EQ(twenty_five[20], "e21=e22=e23=e24=e25");

    const V empties = Split(std::string(25, '='));
    ASSERT_EQ(empties.size(), 21u);
    EXPECT_EQ(empties[20], "=====");
}

TEST(BookmarkList, CaptionAndAddressByNumber) {
    BookmarkList b;
    b.SplitBookmarks("A|u1=B|u2=Cap|u1|u2=nobar=|only=Two words |x ");
    struct Case {
        int32_t n;
        std::string entry, caption, url;
    } cases[] = {
        {1, "A|u1", "A", "u1"},
        {0, "A|u1", "A", "u1"},
        {-4, "A|u1", "A", "u1"},
        {INT32_MIN, "A|u1", "A", "u1"},
        {2, "B|u2", "B", "u2"},
        {3, "Cap|u1|u2", "Cap", "u1|u2"},
        {4, "nobar", "", ""},
        {5, "|only", "", "only"},
        {6, "Two words |x ", "Two words ", "x "},
        {7, "", "", ""},
        {21, "", "", ""},
        {INT32_MAX, "", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(b.GetBookmarkEntry(c.n), c.entry) << "n=" << c.n;
        EXPECT_EQ(b.GetBookmarkCaption(c.n), c.caption) << "n=" << c.n;
        EXPECT_EQ(b.GetBookmarkUrl(c.n), c.url) << "n=" << c.n;
    }
    BookmarkList empty;
    EXPECT_EQ(empty.GetBookmarkEntry(1), "");
    EXPECT_EQ(empty.GetBookmarkCaption(0), "");
    EXPECT_EQ(empty.GetBookmarkUrl(1), "");
}

// ---- writing ----

TEST(FormatSettingsFile, FiveLinesInFixedOrderWithCrLf) {
    EXPECT_EQ(FormatSettingsFile("portal.example", -5, 0, 8080, "A|http://a=B|b"),
              "server=portal.example\r\n"
              "user_id=-5\r\n"
              "interval_time=0\r\n"
              "server_port=8080\r\n"
              "bookmark=A|http://a=B|b\r\n");
    EXPECT_EQ(FormatSettingsFile("", INT32_MIN, INT32_MAX, 80, ""),
              "server=\r\n"
              "user_id=-2147483648\r\n"
              "interval_time=2147483647\r\n"
              "server_port=80\r\n"
              "bookmark=\r\n");
}

TEST(FormatSettingsFile, RoundTripKeepsTheBookmarkText) {
    const std::string bookmark_values[] = {
        "Solo|u1", Numbered(25), "=A|x=", "", "\xC6\xF3\xD2\xB5|http://h/?a=1"};
    for (const std::string& bookmark : bookmark_values) {
        const std::string file = FormatSettingsFile("h", 3, 4, 81, bookmark);
        const Loaded l = Load("extra=1\r\n" + file);
        EXPECT_EQ(l.settings.bookmark, bookmark);
        EXPECT_EQ(FormatSettingsFile(l.settings.server, l.settings.user_id,
                                     l.settings.interval_time, l.settings.server_port,
                                     l.settings.bookmark),
                  file);
    }
}

// ---- the shared file and a user's own values ----

TEST(SharedSettingsValues, OnlyAFileWithAServerCountsAsShared) {
    const std::optional<Settings> s = SharedSettingsValues("\xEF\xBB\xBFserver=b\r\nserver_port=81\r\n");
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->server, "b");
    EXPECT_EQ(s->server_port, 81);
    EXPECT_EQ(s->interval_time, 1);  // not named: the default
    const std::string garbage[] = {
        "", "server=\r\n", "user_id=3\r\n", std::string(512, '\0'),
        // UTF-16, as Notepad's "Unicode" saves it.
        "\xFF\xFEs\0e\0r\0v\0e\0r\0=\0b\0\r\0\n\0"s};
    for (const std::string& text : garbage) EXPECT_FALSE(SharedSettingsValues(text).has_value());
}

}  // namespace
}  // namespace orlimo
