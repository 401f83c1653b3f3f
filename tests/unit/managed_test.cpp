// Settings an administrator manages: the file's encoding, the limits, the
// shared file's later changes, policies and the dialog's Save under them.
#include "core/managed.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/limits.h"

namespace orlimo {
namespace {

using namespace std::string_literals;

// A native code page that knows two words of GBK and no other non-ASCII
// text ("ポータル" has no place in it).
struct FakeGbk : TextConverter {
    FileEncoding ascii_file = FileEncoding::Native;
    static std::optional<std::string> Swap(const std::string& text, int from) {
        static const std::string words[][2] = {{"\xC6\xF3\xD2\xB5", "企业"}, {"\xC3\xC5\xBB\xA7", "门户"}};
        std::string out;
        for (size_t i = 0; i < text.size();) {
            const auto* w = std::find_if(std::begin(words), std::end(words),
                                         [&](const auto& w) { return text.compare(i, w[from].size(), w[from]) == 0; });
            if (w != std::end(words)) {
                out += (*w)[1 - from];
                i += (*w)[from].size();
            } else if (static_cast<unsigned char>(text[i]) < 0x80) {
                out += text[i++];
            } else {
                return std::nullopt;
            }
        }
        return out;
    }
    std::optional<std::string> NativeToUtf8(const std::string& t) const override { return Swap(t, 0); }
    std::optional<std::string> Utf8ToNative(const std::string& t) const override { return Swap(t, 1); }
    FileEncoding AsciiFileEncoding() const override { return ascii_file; }
};

std::string File(const std::string& server, int user, int interval, int port, const std::string& bookmark,
                 const std::string& mark = "") {
    return mark + FormatSettingsFile(server, user, interval, port, bookmark);
}

TEST(FileEncoding, DecidedFromTheBytesAndTheFileParsedFirst) {
    const struct {
        std::string bytes;
        FileEncoding encoding;
    } cases[] = {
        {"\xEF\xBB\xBFserver=a\r\n", FileEncoding::Utf8WithMark},
        {"bookmark=企业门户|http://a/\r\n", FileEncoding::Utf8},         // Notepad's UTF-8
        {"bookmark=\xF0\x9F\x98\x80|http://a/", FileEncoding::Utf8},     // four bytes
        {"server=a\r\n", FileEncoding::Native},                          // ASCII alone
        {"bookmark=\xC6\xF3\xD2\xB5|http://a/\r\n", FileEncoding::Native},  // GBK
        {"bookmark=\xE4\xBC", FileEncoding::Native},                     // cut off at the end
        {"server=\xC0\xAF", FileEncoding::Native},                       // overlong "/"
        {"server=\xED\xA0\x80", FileEncoding::Native},                   // a surrogate
        {"server=\xF4\x90\x80\x80", FileEncoding::Native},               // past U+10FFFF
    };
    for (const auto& c : cases) EXPECT_EQ(DetectEncoding(c.bytes), c.encoding) << c.bytes;
    // The separator is found in the bytes: no caption splits inside a
    // character (in code page 932 "ポ" ends in the byte of "|").
    Settings s;
    BookmarkList b;
    ApplySettingsText("bookmark=ポータル|http://127.0.0.1/p/", &s, &b);
    EXPECT_EQ(b.GetBookmarkCaption(1), "ポータル");
    EXPECT_EQ(b.GetBookmarkUrl(1), "http://127.0.0.1/p/");
}

TEST(Limits, WhatAnAdministratorsValueMayBe) {
    // (The server's forms: the installer's refusals in deploy_test.cpp.)
    EXPECT_EQ(ServerRefusal("门户.example"), "");
    EXPECT_NE(ServerRefusal(""), "");
    const struct {
        const char* name;
        int64_t number;
        bool accepted;
    } numbers[] = {
        {"server_port", 0, false},   {"server_port", 1, true},     {"server_port", 65535, true},
        {"server_port", 65536, false}, {"interval_time", 0, false}, {"interval_time", 1, true},
        {"interval_time", 1440, true}, {"interval_time", 1441, false}, {"user_id", -1, false},
        {"user_id", 0, true},        {"user_id", 2147483647, true}, {"autorun", 2, false},
    };
    for (const auto& n : numbers)
        EXPECT_EQ(NumberRefusal(Limit(n.name), n.number).empty(), n.accepted) << n.name << " " << n.number;
    EXPECT_EQ(BookmarkRefusal("A|http://a/=B|b"), "");
    EXPECT_NE(BookmarkRefusal("A|http://a/\rserver=evil"), "");
}

TEST(FollowSharedFile, TakesWhatTheUserNeverSetAndWhatTheLimitsAccept) {
    const FakeGbk gbk;
    const std::string a = File("a", 0, 1, 80, "A|http://a/");
    const std::string mark = kUtf8Mark;
    const std::optional<std::string> kCopy = "(the record becomes a copy of the shared file)";
    const struct {
        const char* name;
        std::optional<std::string> user, record, previous, shared;
        std::optional<std::string> new_user, new_record;
        const char* reason;
    } cases[] = {
        {"portal B in Notepad's UTF-8 with a poll every second: port and caption follow (the ASCII copy "
         "becomes UTF-8), the interval stays",
         File("a", 42, 1, 80, "A|http://a/"), a, std::nullopt, File("a", 0, 0, 8080, "企业门户|http://b/"),
         File("a", 42, 1, 8080, "企业门户|http://b/"), File("a", 0, 1, 8080, "企业门户|http://b/"), "interval_time=0 refused (not from 1 to 1440); interval_time=1 stays"},
        {"the mended file: the interval follows now", File("a", 42, 1, 80, "A|http://a/"),
         File("a", 0, 1, 80, "A|http://a/"), std::nullopt, File("a", 0, 5, 80, "A|http://a/"),
         File("a", 42, 5, 80, "A|http://a/"), File("a", 0, 5, 80, "A|http://a/"), "interval_time=5 taken"},
        {"a caption the code page lacks: the file becomes UTF-8 and keeps its own text",
         File("\xC3\xC5\xBB\xA7", 0, 1, 80, "A|http://a/"), File("\xC3\xC5\xBB\xA7", 0, 1, 80, "A|http://a/"),
         std::nullopt, File("门户", 0, 1, 80, "ポータル|http://p/"),
         File("门户", 0, 1, 80, "ポータル|http://p/", mark), kCopy, "bookmark=ポータル|http://p/ taken"},
        {"a native file that can say the new caption stays native",
         File("\xC3\xC5\xBB\xA7", 0, 1, 80, ""), File("\xC3\xC5\xBB\xA7", 0, 1, 80, ""), std::nullopt,
         File("门户", 0, 1, 80, "企业|http://b/", mark), File("\xC3\xC5\xBB\xA7", 0, 1, 80, "\xC6\xF3\xD2\xB5|http://b/"),
         kCopy, "bookmark=企业|http://b/ taken"},
        {"texts compared across encodings: a UTF-8 copy of a GBK record follows",
         File("a", 0, 1, 80, "企业|http://a/"), File("a", 0, 1, 80, "\xC6\xF3\xD2\xB5|http://a/"), std::nullopt,
         File("b", 0, 1, 80, "\xC6\xF3\xD2\xB5|http://a/"), File("b", 0, 1, 80, "企业|http://a/"), kCopy,
         "server=b taken"},
        {"a server with a path is refused, and the record keeps the base's server", a, a, std::nullopt,
         File("b/velsa", 0, 1, 81, "A|http://a/"), File("a", 0, 1, 81, "A|http://a/"), File("a", 0, 1, 81, "A|http://a/"),
         "server=b/velsa refused (not a host"},
        {"a copy from before records follows from the earlier shared file", File("a", 66, 1, 80, ""), std::nullopt,
         File("a", 9, 1, 80, ""), File("a", 9, 1, 81, ""), File("a", 66, 1, 81, ""), File("a", 9, 1, 81, ""),
         "server_port=81 taken"},
        {"no base: every value is the user's, only the record is made", File("a", 66, 1, 80, ""), std::nullopt,
         std::nullopt, File("b", 9, 1, 81, ""), std::nullopt, File("b", 9, 1, 81, ""), ""},
        {"a shared file without a server changes nothing", a, a, std::nullopt, "\xFF\xFEs\0e\0r\0v\0e\0r\0=\0b\0"s,
         std::nullopt, std::nullopt, "names no server"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FollowResult r = FollowSharedFile({c.user, c.record, c.previous, c.shared, "shared"}, gbk);
        EXPECT_EQ(r.user, c.new_user);
        EXPECT_EQ(r.record, c.new_record == kCopy ? c.shared : c.new_record);
        std::string reasons;
        for (const std::string& line : r.reasons) reasons += line + "\n";
        EXPECT_NE(reasons.find(c.reason), std::string::npos) << reasons;
        if (!*c.reason) {
            EXPECT_EQ(reasons, "");
        }
    }
}

TEST(ApplyPolicy, MachineOverUserOverOwnWithinTheLimits) {
    const FakeGbk gbk;
    const Settings own = [] {
        Settings s;
        s.server = "\xC3\xC5\xBB\xA7";  // native text of the user's file
        s.server_port = 81;
        s.user_id = 5;
        return s;
    }();
    using T = PolicyEntry::Type;
    PolicySource machine{"HKLM", true, false,
                         {{"server_port", T::Number, "", 8443}, {"user_id", T::Number, "", 7},
                          {"interval_time", T::Number, "", 0}, {"autorun", T::Number, "", 0}}};
    PolicySource user{"HKCU", false, false,
                      {{"server_port", T::Number, "", 9000}, {"user_id", T::Number, "", 7},
                       {"interval_time", T::Text, "5", 0}, {"bookmark", T::Text, "ポータル|http://p/", 0}}};
    const PolicyInForce p = ApplyPolicy(own, FileEncoding::Native, {machine, user}, gbk);
    EXPECT_EQ(p.values.server_port, 8443);
    EXPECT_EQ(p.values.user_id, 7);
    EXPECT_EQ(p.values.interval_time, 1) << "refused in both: the user's own";
    EXPECT_EQ(p.locked, unsigned{kPortBit | kUserIdBit | kBookmarkBit});
    EXPECT_EQ(p.autorun, false);
    // Text the code page lacks: everything in force is UTF-8.
    EXPECT_EQ(p.encoding, FileEncoding::Utf8);
    EXPECT_EQ(p.values.server, "门户");
    EXPECT_EQ(p.values.bookmark, "ポータル|http://p/");
    ASSERT_EQ(p.reasons.size(), 3u);
    EXPECT_EQ(p.reasons[0], "HKLM: interval_time=0 refused (not from 1 to 1440)");
    EXPECT_EQ(p.reasons[1], "HKCU: interval_time=5 refused (not a number)");
    EXPECT_NE(p.reasons[2].find("HKLM: user_id=7 refused (set for one user only"), std::string::npos);

    // A policy file: the settings file's format, numbers as text, the last
    // line of a key counts.
    const PolicySource file = PolicyFromFile(
        "/etc/orlimo/policy.properties",
        "\xEF\xBB\xBFserver_port=1\r\nserver_port=8080\r\ninterval_time=5abc\r\nserver=门户\r\nx=1\n", gbk);
    const PolicyInForce f = ApplyPolicy(own, FileEncoding::Native, {file}, gbk);
    EXPECT_EQ(f.values.server_port, 8080);
    EXPECT_EQ(f.values.server, "\xC3\xC5\xBB\xA7") << "said in the user's native encoding";
    EXPECT_EQ(f.encoding, FileEncoding::Native);
    EXPECT_EQ(f.locked, unsigned{kPortBit | kServerBit});
    ASSERT_EQ(f.reasons.size(), 1u);
    EXPECT_EQ(f.reasons[0], "/etc/orlimo/policy.properties: interval_time=5abc refused (not a whole number)");
}

TEST(SaveDialogValues, LockedValuesStayTheUsersAndNothingIsLost) {
    FakeGbk gbk;
    Settings own;
    own.server = "a";
    own.server_port = 81;
    own.bookmark = "\xC6\xF3\xD2\xB5|http://a/";
    DialogValues dialog{std::string("ポータル"), 3, 4, 9999};
    SavedFile s = SaveDialogValues(own, FileEncoding::Native, dialog, kPortBit, gbk);
    EXPECT_EQ(s.bytes, File("ポータル", 3, 4, 81, "企业|http://a/", kUtf8Mark));
    dialog.server = std::string("门户");
    s = SaveDialogValues(own, FileEncoding::Native, dialog, kPortBit | kServerBit, gbk);
    EXPECT_EQ(s.bytes, File("a", 3, 4, 81, "\xC6\xF3\xD2\xB5|http://a/"));
    s = SaveDialogValues(own, FileEncoding::Native, dialog, 0, gbk);
    EXPECT_EQ(s.bytes, File("\xC3\xC5\xBB\xA7", 3, 4, 9999, "\xC6\xF3\xD2\xB5|http://a/"));
    // A file of ASCII alone, on a front end that writes new text in UTF-8.
    own.bookmark.clear();
    gbk.ascii_file = FileEncoding::Utf8;
    EXPECT_EQ(SaveDialogValues(own, FileEncoding::Native, dialog, 0, gbk).bytes, File("门户", 3, 4, 9999, ""));
}

}  // namespace
}  // namespace orlimo
