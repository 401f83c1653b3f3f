// Shortcut files written through IShellLink and read back; the program's
// icon groups.
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "core/shortcuts.h"
#include "win/framework.h"
#include "win/shortcuts.h"
#include "win_test_util.h"

using namespace orlimo;
using namespace orlimo_test;

namespace {

struct ComScope {
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
};

struct LinkFields {
    bool loaded = false;
    std::wstring path, arguments, icon_file;
    int icon_index = -1;
    uint32_t show_command = 0;  // from the file's header
};

LinkFields ReadLink(const std::string& ansi_path) {
    LinkFields f;
    std::wstring path = AnsiToWide(ansi_path);
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return f;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            wchar_t buf[1024] = {};
            link->GetPath(buf, 1024, nullptr, SLGP_RAWPATH);
            f.path = buf;
            buf[0] = 0;
            link->GetArguments(buf, 1024);
            f.arguments = buf;
            buf[0] = 0;
            link->GetIconLocation(buf, 1024, &f.icon_index);
            f.icon_file = buf;
            f.loaded = true;
        }
        file->Release();
    }
    link->Release();
    // Wine reads the show command back as 1 whatever was saved: take it from
    // the header (ShowCommand at byte 60).
    std::string bytes = ReadFileBytes(ansi_path);
    if (bytes.size() >= 64) memcpy(&f.show_command, bytes.data() + 60, 4);
    return f;
}

BOOL CALLBACK CollectGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<int>*>(param)->push_back(
            static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

}  // namespace

TEST(ShortcutLinks, PortalAndPlainLinksReadBack) {
    ComScope com;
    std::string dir = MakeScratchFolder("links");
    const std::wstring browser = Utf8ToWide(kBrowserTarget);
    const std::wstring mail = Utf8ToWide(kMailTarget);

    std::string portal = dir + "portal.lnk";
    ASSERT_TRUE(CreatePortalLink(browser, AnsiToWide(portal), L"http://h:8080/velsa/login.jsp"));
    LinkFields p = ReadLink(portal);
    ASSERT_TRUE(p.loaded);
    EXPECT_EQ(p.path, L"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE");
    EXPECT_EQ(p.arguments, L"http://h:8080/velsa/login.jsp");
    EXPECT_EQ(p.icon_file, L"C:\\Program Files\\orlimo\\orlimo.exe");
    EXPECT_EQ(p.icon_index, 4);
    EXPECT_EQ(p.show_command, static_cast<uint32_t>(SW_SHOWMAXIMIZED));

    std::string plain = dir + "plain.lnk";
    ASSERT_TRUE(CreatePlainLink(mail, AnsiToWide(plain)));
    LinkFields m = ReadLink(plain);
    ASSERT_TRUE(m.loaded);
    EXPECT_EQ(m.path, L"C:\\Program Files\\Outlook Express\\msimn.exe");
    EXPECT_EQ(m.arguments, L"");
    EXPECT_EQ(m.icon_file, L"");
    EXPECT_EQ(m.show_command, static_cast<uint32_t>(SW_SHOWMAXIMIZED));

    // Writing again overwrites.
    ASSERT_TRUE(CreatePortalLink(browser, AnsiToWide(portal), L"http://other/velsa/login.jsp"));
    EXPECT_EQ(ReadLink(portal).arguments, L"http://other/velsa/login.jsp");
}

TEST(ShortcutLinks, UnsavedLinkIsReportedAsFailure) {
    ComScope com;
    std::string missing = MakeScratchFolder("nolink") + "no\\such\\folder\\x.lnk";
    EXPECT_FALSE(CreatePortalLink(Utf8ToWide(kBrowserTarget), AnsiToWide(missing), L"a"));
    EXPECT_FALSE(CreatePlainLink(Utf8ToWide(kMailTarget), AnsiToWide(missing)));
    EXPECT_FALSE(FileExists(missing));
}

TEST(ShortcutLinks, WithoutComNothingIsWritten) {
    // No CoInitialize on this thread: the link object cannot be created.
    std::string path = MakeScratchFolder("nocom") + "x.lnk";
    bool ok = true;
    std::thread([&] { ok = CreatePlainLink(Utf8ToWide(kMailTarget), AnsiToWide(path)); }).join();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(FileExists(path));
}

// The single shortcut commands: each writes the portal shortcut, with the
// login address of the settings given, into its own folder and nowhere else.
TEST(ShortcutCommands, EachWritesThePortalShortcutIntoItsOwnFolder) {
    ComScope com;
    Settings settings;
    settings.server = "cmd.test";
    settings.server_port = 8081;
    const std::wstring quick = ShortcutFolderPath(ShortcutFolder::QuickLaunch);
    ASSERT_FALSE(quick.empty());
    SHCreateDirectoryExW(nullptr, quick.c_str(), nullptr);  // not every profile has one
    struct Command {
        const char* name;
        int csidl, quick_launch;
        ShortcutFolder folder;
    } const kCommands[] = {
        {"desktop", CSIDL_DESKTOPDIRECTORY, 0, ShortcutFolder::DesktopDirectory},
        {"start menu", CSIDL_STARTMENU, 0, ShortcutFolder::StartMenu},
        {"quick launch", CSIDL_APPDATA, 1, ShortcutFolder::QuickLaunch},
    };
    auto link_in = [](ShortcutFolder f) {
        return WideToAnsi(ShortcutFolderPath(f) + Utf8ToWide(kPortalLinkName));
    };
    for (const Command& c : kCommands) {
        SCOPED_TRACE(c.name);
        for (const Command& other : kCommands) DeleteFileA(link_in(other.folder).c_str());
        CreatePortalShortcut(settings, c.csidl, c.quick_launch);
        for (const Command& other : kCommands)
            EXPECT_EQ(FileExists(link_in(other.folder)), other.folder == c.folder) << other.name;
        LinkFields link = ReadLink(link_in(c.folder));
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(link.path, L"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE");
        EXPECT_EQ(link.arguments, L"http://cmd.test:8081/velsa/login.jsp");
        DeleteFileA(link_in(c.folder).c_str());
    }
}

TEST(ShortcutFolders, SpecialFoldersResolveToExistingFolders) {
    ComScope com;
    for (ShortcutFolder f : {ShortcutFolder::Desktop, ShortcutFolder::DesktopDirectory,
                             ShortcutFolder::StartMenu}) {
        std::wstring path = ShortcutFolderPath(f);
        ASSERT_FALSE(path.empty());
        EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    std::wstring quick = ShortcutFolderPath(ShortcutFolder::QuickLaunch);
    std::wstring appdata = SpecialFolderPath(CSIDL_APPDATA);
    EXPECT_EQ(quick, appdata + L"\\Microsoft\\Internet Explorer\\Quick Launch");
}

// The shortcuts name "icon 4" of the program: the fifth icon group must be
// 136, one 32x32 image of 24 bits.
TEST(ProgramIcons, GroupsInOrderAndIndexFourIsTheShortcutIcon) {
    std::vector<int> groups;
    EnumResourceNamesW(GetModuleHandleW(nullptr), RT_GROUP_ICON, &CollectGroup,
                       reinterpret_cast<LONG_PTR>(&groups));
    EXPECT_EQ(groups, (std::vector<int>{128, 129, 133, 134, 136}));

    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(136), RT_GROUP_ICON);
    ASSERT_NE(res, nullptr);
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
    ASSERT_NE(dir, nullptr);
    WORD count;
    memcpy(&count, dir + 4, 2);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(dir[6], 32);   // width
    EXPECT_EQ(dir[7], 32);   // height
    WORD bits;
    memcpy(&bits, dir + 6 + 6, 2);
    EXPECT_EQ(bits, 24);

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    HICON large = nullptr;
    ASSERT_EQ(ExtractIconExW(self, 4, &large, nullptr, 1), 1u);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(large, &info));
    BITMAP bm = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 32);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    DestroyIcon(large);
}
