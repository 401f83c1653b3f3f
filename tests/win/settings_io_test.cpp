// Settings file access on real files.
#include <gtest/gtest.h>

#include "win/atomic_file.h"
#include "win/framework.h"
#include "win/settings_io.h"
#include "win_test_util.h"

using namespace orlimo;
using namespace orlimo_test;

namespace {
const char kShared[] = "server=shared\r\n";
const char kPerUser[] = "server=peruser\r\n";

std::string PerUserName() { return GetLogonUserName() + ".config.properties"; }
}  // namespace

// Settings files are GBK text on the desktops the program serves; the tests
// that read them mean something only under that code page.
TEST(TestEnvironment, AnsiCodePageIsThatOfAChineseDesktop) {
    EXPECT_EQ(GetACP(), 936u) << "Wine takes the code page from LANG/LC_ALL: zh_CN.UTF-8 missing?";
}

// Nothing that would be lost is converted.
TEST(CodePageConverter, ConvertsOnlyWhatTheCodePageCanSay) {
    const CodePageConverter c;
    EXPECT_EQ(c.Utf8ToNative("企业|http://a/"), std::optional<std::string>("\xC6\xF3\xD2\xB5|http://a/"));
    EXPECT_EQ(c.NativeToUtf8("\xC6\xF3\xD2\xB5"), std::optional<std::string>("企业"));
    EXPECT_EQ(c.Utf8ToNative("한글"), std::nullopt) << "no Hangul in GBK";
    EXPECT_EQ(c.NativeToUtf8("\xC6"), std::nullopt) << "a lead byte alone";
    EXPECT_EQ(c.Utf8ToNative("\xE4\xBC"), std::nullopt) << "no UTF-8";
}

TEST(ResolveSettingsPath, PerUserFileWinsAndIsLeftAlone) {
    std::string dir = MakeScratchFolder("resolve");
    ASSERT_TRUE(WriteFileBytes(dir + "config.properties", kShared));
    ASSERT_TRUE(WriteFileBytes(dir + PerUserName(), kPerUser));
    EXPECT_EQ(ResolveSettingsPath(dir), dir + PerUserName());
    EXPECT_EQ(ReadFileBytes(dir + PerUserName()), kPerUser);
}

TEST(ResolveSettingsPath, CopiesSharedFileForNewUser) {
    std::string dir = MakeScratchFolder("resolve");
    ASSERT_TRUE(WriteFileBytes(dir + "config.properties", kShared));
    EXPECT_EQ(ResolveSettingsPath(dir), dir + PerUserName());
    EXPECT_EQ(ReadFileBytes(dir + PerUserName()), kShared);
}

// A folder of the per-user file's name stands for an install folder that
// a standard user may not write in: the copy there fails.
TEST(ResolveSettingsPath, InstallFolderThatRefusesTheCopy) {
    std::string dir = MakeScratchFolder("resolve");
    ASSERT_TRUE(WriteFileBytes(dir + "config.properties", kShared));
    ASSERT_TRUE(CreateDirectoryA((dir + PerUserName()).c_str(), nullptr));
    EXPECT_EQ(ResolveSettingsPath(dir, ""), dir + "config.properties") << "no user folder known";

    // The copy goes into the user's own folder, made on demand...
    const std::string own = MakeScratchFolder("appdata") + "orlimo\\";
    EXPECT_EQ(ResolveSettingsPath(dir, own), own + PerUserName());
    EXPECT_EQ(ReadFileBytes(own + PerUserName()), kShared);
    // ...and, saved over, is the one in force from then on, not copied again.
    ASSERT_TRUE(WriteFileBytes(own + PerUserName(), kPerUser));
    EXPECT_EQ(ResolveSettingsPath(dir, own), own + PerUserName());
    EXPECT_EQ(ReadFileBytes(own + PerUserName()), kPerUser);
    EXPECT_EQ(ReadFileBytes(dir + "config.properties"), kShared);
}

// The user's own file wins over one an elevated start left in the install
// folder; without it, the install folder's stays in force.
TEST(ResolveSettingsPath, UsersOwnFileBeforeThePerUserFileOfTheInstallFolder) {
    std::string dir = MakeScratchFolder("resolve");
    const std::string own = MakeScratchFolder("appdata");
    ASSERT_TRUE(WriteFileBytes(dir + "config.properties", kShared));
    ASSERT_TRUE(WriteFileBytes(dir + PerUserName(), kPerUser));
    EXPECT_EQ(ResolveSettingsPath(dir, own), dir + PerUserName());
    ASSERT_TRUE(WriteFileBytes(own + PerUserName(), kShared));
    EXPECT_EQ(ResolveSettingsPath(dir, own), own + PerUserName());
    EXPECT_EQ(ReadFileBytes(dir + PerUserName()), kPerUser) << "nobody's file is moved or deleted";
}

// A save the install folder refuses (a read-only file stands for one the
// user may not replace) goes to the user's own file, folder made.
TEST(SaveSettings, RefusedFileFallsBackToTheUsersOwn) {
    std::string dir = MakeScratchFolder("save");
    const std::string own = MakeScratchFolder("appdata") + "orlimo\\";
    const std::string refused = dir + PerUserName();
    ASSERT_TRUE(WriteFileBytes(refused, kPerUser));
    ASSERT_TRUE(SetFileAttributesA(refused.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(SaveSettings(refused, FormatSettingsFile("saved", 5, 2, 8080, ""), own), own + PerUserName());
    EXPECT_EQ(ReadFileBytes(own + PerUserName()),
              "server=saved\r\nuser_id=5\r\ninterval_time=2\r\nserver_port=8080\r\nbookmark=\r\n");
    EXPECT_EQ(ReadFileBytes(refused), kPerUser);
    EXPECT_EQ(ResolveSettingsPath(dir, own), own + PerUserName());
    SetFileAttributesA(refused.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The user's values follow the shared file where the user never set them;
// where the record cannot be kept beside the user's file (a folder of its
// name stands for an install folder the user may not write in), both go to
// the user's own folder, which is in force from then on.
TEST(FollowSharedSettings, RecordRefusedBesideTheFileMovesToTheUsersOwnFolder) {
    const std::string dir = MakeScratchFolder("follow");
    const std::string own = MakeScratchFolder("appdata") + "orlimo\\";
    std::string path = dir + PerUserName();
    ASSERT_TRUE(WriteFileBytes(dir + "config.properties.previous", "server=a\r\nuser_id=5\r\n"));
    ASSERT_TRUE(WriteFileBytes(path, "server=a\r\nuser_id=42\r\n"));  // user_id the user's own
    const std::string shared = "server=b\r\nuser_id=7\r\nserver_port=81\r\n";
    ASSERT_TRUE(WriteFileBytes(dir + "config.properties", shared));
    ASSERT_TRUE(CreateDirectoryA((path + ".shared").c_str(), nullptr));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, &bytes));
    FollowSharedSettings(&path, &bytes, dir, own);
    EXPECT_EQ(path, own + PerUserName());
    EXPECT_EQ(bytes, "server=b\r\nuser_id=42\r\ninterval_time=1\r\nserver_port=81\r\nbookmark=\r\n");
    EXPECT_EQ(ReadFileBytes(path), bytes);
    EXPECT_EQ(ReadFileBytes(path + ".shared"), shared);
    EXPECT_EQ(ResolveSettingsPath(dir, own), path);
}

TEST(ResolveSettingsPath, BareNameWhenNoFileExists) {
    std::string dir = MakeScratchFolder("resolve");
    EXPECT_EQ(ResolveSettingsPath(dir), "config.properties");
    EXPECT_FALSE(FileExists(dir + PerUserName()));
}

TEST(ReadFileBytes, MissingFileChangesNothing) {
    std::string bytes = "kept";
    EXPECT_FALSE(ReadFileBytes(MakeScratchFolder("read") + "absent", &bytes));
    EXPECT_EQ(bytes, "kept");
}

TEST(ReadFileBytes, ReadsWhatItCanFromBadFiles) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string server;
        int32_t port;
    };
    std::string million(1000000, 'x');
    std::string nul_line = std::string("server=a\0b", 10) + "\r\nserver_port=81";
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37) & 0xFF));
    const Case cases[] = {
        {"empty", "", ORLIMO_DEFAULT_SERVER, 80},
        {"no final line end", "server_port=81\r\nserver=last", "last", 81},
        {"LF only", "server=lf\nserver_port=82\n", "lf", 82},
        {"NUL bytes", nul_line, std::string("a\0b", 3), 81},
        {"million-character line", "server=" + million + "\r\nserver_port=83\r\n", million, 83},
        {"binary", binary + "\nserver_port=84\n", ORLIMO_DEFAULT_SERVER, 84},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = MakeScratchFolder("bad") + "config.properties";
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        Settings s;
        BookmarkList b;
        std::string bytes;
        EXPECT_TRUE(ReadFileBytes(path, &bytes));
        ApplySettingsText(bytes, &s, &b);
        EXPECT_EQ(s.server, c.server);
        EXPECT_EQ(s.server_port, c.port);
        EXPECT_EQ(ReadFileBytes(path), c.bytes) << "reading must not change the file";
    }
}

TEST(ReadFileBytes, TenMegabyteFileKeepsItsBookmarkWhole) {
    std::string bookmark = "A|http://a/=" + std::string(10 * 1024 * 1024, 'b');
    std::string path = MakeScratchFolder("big") + "config.properties";
    ASSERT_TRUE(WriteFileBytes(path, "user_id=5\r\nbookmark=" + bookmark + "\r\n"));
    Settings s;
    BookmarkList b;
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, &bytes));
    ApplySettingsText(bytes, &s, &b);
    EXPECT_EQ(s.user_id, 5);
    EXPECT_EQ(s.bookmark, bookmark);
    EXPECT_EQ(b.GetBookmarkCaption(1), "A");
}

TEST(WriteSettingsFile, WritesFiveLinesAndReplacesTheOldFile) {
    std::string dir = MakeScratchFolder("save");
    std::string path = dir + "config.properties";
    ASSERT_TRUE(WriteFileBytes(path, "junk=1\r\nserver=old\r\n"));
    ASSERT_TRUE(ReplaceFileAtomically(path, FormatSettingsFile("new", 3, -2, 8080, "A|http://a/=B|x")));
    EXPECT_EQ(ReadFileBytes(path),
              "server=new\r\nuser_id=3\r\ninterval_time=-2\r\nserver_port=8080\r\n"
              "bookmark=A|http://a/=B|x\r\n");
    EXPECT_FALSE(FileExists(path + ".new")) << "no temporary file is left behind";
}

TEST(WriteSettingsFile, FailedSaveLeavesOldFileByteForByte) {
    const std::string old = "server=old\r\nbookmark=K|http://k/\r\n";
    {
        SCOPED_TRACE("read-only file");
        std::string path = MakeScratchFolder("ro") + "config.properties";
        ASSERT_TRUE(WriteFileBytes(path, old));
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_FALSE(ReplaceFileAtomically(path, FormatSettingsFile("new", 1, 1, 80, "")));
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ReadFileBytes(path), old);
        EXPECT_FALSE(FileExists(path + ".new"));
    }
    {
        SCOPED_TRACE("file held open without sharing");
        std::string path = MakeScratchFolder("locked") + "config.properties";
        ASSERT_TRUE(WriteFileBytes(path, old));
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(ReplaceFileAtomically(path, FormatSettingsFile("new", 1, 1, 80, "")));
        CloseHandle(h);
        EXPECT_EQ(ReadFileBytes(path), old);
    }
    {
        SCOPED_TRACE("folder that does not exist");
        std::string path = MakeScratchFolder("gone") + "no\\such\\config.properties";
        EXPECT_FALSE(ReplaceFileAtomically(path, FormatSettingsFile("new", 1, 1, 80, "")));
    }
}
