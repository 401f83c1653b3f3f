// The shared settings file an installer package writes from its properties.
#include "core/deploy.h"

#include <gtest/gtest.h>

#include "core/settings.h"

namespace orlimo {
namespace {

std::string File(const std::string& server, int user, int interval, int port, const std::string& bm) {
    return FormatSettingsFile(server, user, interval, port, bm);
}

TEST(DeploySettings, FreshInstallTakesTheGivenValuesOverTheDefaults) {
    DeployValues none;
    EXPECT_EQ(DeploySettings(std::nullopt, none).file, File(ORLIMO_DEFAULT_SERVER, 0, 1, 80, ""));
    DeployValues some;
    some.server = "oa.example.com";
    some.port = "8080";
    some.user_id = "7";
    some.bookmarks = "门户|http://oa/=B|http://b/?x=1";
    EXPECT_EQ(DeploySettings(std::nullopt, some).file,
              File("oa.example.com", 7, 1, 8080, "门户|http://oa/=B|http://b/?x=1"));
    DeployValues tls;
    tls.server = "https://oa.example.com";
    EXPECT_EQ(DeploySettings(std::nullopt, tls).file, File("https://oa.example.com", 0, 1, 80, ""));
}

TEST(DeploySettings, UpgradeKeepsTheFileUnlessValuesAreGiven) {
    // An administrator's file: other order, an extra line, LF line ends.
    const std::string existing = "bookmark=A|http://a/\nserver_port=81\nserver=old.host\nx=y\nuser_id=3\n";
    DeployResult kept = DeploySettings(existing, DeployValues());
    EXPECT_EQ(kept.error, DeployError::None);
    EXPECT_FALSE(kept.file.has_value());

    DeployValues port;
    port.port = "8443";
    EXPECT_EQ(DeploySettings(existing, port).file, File("old.host", 3, 1, 8443, "A|http://a/"));
}

TEST(DeploySettings, AnEditorsUtf8FileKeepsItsMark) {
    // Saved as UTF-8 with the byte-order mark; the given values come in
    // UTF-8 too. The mark stays in front, the values are read past it.
    const std::string existing = "\xEF\xBB\xBFserver=old.host\r\nuser_id=3\r\nbookmark=门户|http://oa/\r\n";
    DeployValues port;
    port.port = "8443";
    EXPECT_EQ(DeploySettings(existing, port).file,
              "\xEF\xBB\xBF" + File("old.host", 3, 1, 8443, "门户|http://oa/"));
    EXPECT_FALSE(DeploySettings(existing, DeployValues()).file.has_value());
    // Notepad's UTF-8 has no mark and stays so.
    EXPECT_EQ(DeploySettings("bookmark=门户|http://oa/\r\n", port).file,
              File(ORLIMO_DEFAULT_SERVER, 0, 1, 8443, "门户|http://oa/"));
    // A mark anywhere but at the start is no mark.
    EXPECT_EQ(DeploySettings("user_id=3\r\n\xEF\xBB\xBFserver=x\r\n", port).file,
              File(ORLIMO_DEFAULT_SERVER, 3, 1, 8443, ""));
}

TEST(DeploySettings, RefusesWhatTheFileCannotTake) {
    const struct {
        const char* what;
        DeployValues given;
        DeployError error;
    } cases[] = {
        {"blank in server", {"oa example", "", "", "", ""}, DeployError::BadServer},
        {"address for a host", {"http://oa", "", "", "", ""}, DeployError::BadServer},
        {"tab in server", {"oa\t", "", "", "", ""}, DeployError::BadServer},
        {"path after a TLS host", {"https://oa/velsa", "", "", "", ""}, DeployError::BadServer},
        {"TLS without a host", {"https://", "", "", "", ""}, DeployError::BadServer},
        {"blank in a TLS host", {"https://oa x", "", "", "", ""}, DeployError::BadServer},
        {"query after a TLS host", {"https://oa?x", "", "", "", ""}, DeployError::BadServer},
        {"port 0", {"", "0", "", "", ""}, DeployError::BadPort},
        {"port 65536", {"", "65536", "", "", ""}, DeployError::BadPort},
        {"port with letters", {"", "80a", "", "", ""}, DeployError::BadPort},
        {"port with a blank", {"", " 80", "", "", ""}, DeployError::BadPort},
        {"negative port", {"", "-80", "", "", ""}, DeployError::BadPort},
        {"interval over a day", {"", "", "1441", "", ""}, DeployError::BadInterval},
        {"negative interval", {"", "", "-1", "", ""}, DeployError::BadInterval},
        {"a poll every second", {"", "", "0", "", ""}, DeployError::BadInterval},
        {"user id past 32 bits", {"", "", "", "2147483648", ""}, DeployError::BadUserId},
        {"negative user id", {"", "", "", "-1", ""}, DeployError::BadUserId},
        {"user id of letters", {"", "", "", "abc", ""}, DeployError::BadUserId},
        {"line end in favorites", {"", "", "", "", "A|http://a/\r\nserver=evil"}, DeployError::BadBookmarks},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeployResult r = DeploySettings(std::nullopt, c.given);
        EXPECT_EQ(r.error, c.error);
        EXPECT_FALSE(r.file.has_value());
    }
    // Limits that pass.
    DeployValues edge{"10.0.0.1", "65535", "1", "2147483647", ""};
    EXPECT_EQ(DeploySettings(std::nullopt, edge).file, File("10.0.0.1", INT32_MAX, 1, 65535, ""));
    // A server that ends up empty: nothing to poll.
    DeployValues port{"", "81", "", "", ""};
    EXPECT_EQ(DeploySettings(std::string("server=\r\n"), port).error, DeployError::BadServer);
}

}  // namespace
}  // namespace orlimo
