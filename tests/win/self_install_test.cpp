// The first start's installation into a folder of its own.
#include <gtest/gtest.h>

#include "win/registry.h"
#include "win/self_install.h"
#include "win_test_util.h"

using namespace orlimo;
using namespace orlimo_test;

TEST(InstallSelf, InstallsOnceDecidedByTheMarker) {
    std::string dir = MakeScratchFolder("install") + "target\\";
    InstallSelf(dir);
    EXPECT_TRUE(FileExists(dir + "lock.file"));
    bool ok = false;
    EXPECT_EQ(ReadFileBytes(dir + "lock.file", &ok), "");
    EXPECT_TRUE(ok);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    EXPECT_TRUE(ReadFileBytes(dir + "orlimo.exe") == ReadFileBytes(self)) << "the running program is copied";
    char data[MAX_PATH * 2] = {};
    DWORD size = sizeof(data);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegQueryValueExA(key, kRunValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    EXPECT_EQ(std::string(data), "\"" + dir + "orlimo.exe\"") << "quoted: the path holds blanks";
    // With the marker present nothing is copied again.
    DeleteFileA((dir + "orlimo.exe").c_str());
    InstallSelf(dir);
    EXPECT_FALSE(FileExists(dir + "orlimo.exe"));
    DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, kRunValueName);
}
