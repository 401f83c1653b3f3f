// The autorun registry value.
#include <gtest/gtest.h>

#include <cstring>

#include "win/registry.h"
#include "win/self_install.h"

using namespace orlimo;

// The autorun value lives in HKLM; the tests use their own value name so a
// real registration is never touched.
TEST(RunValue, SetReplacesAndDeleteReportsAbsence) {
    const char* name = "orlimo-test-value";
    DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, name);  // start from nothing
    EXPECT_EQ(DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, name), 1) << "absent";
    EXPECT_FALSE(RunValuePresent(HKEY_LOCAL_MACHINE, kRunKeyPath, name));
    EXPECT_EQ(SetRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, name, kInstalledProgram), 0);
    EXPECT_TRUE(RunValuePresent(HKEY_LOCAL_MACHINE, kRunKeyPath, name)) << "an older, unquoted value counts";
    EXPECT_EQ(SetRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, name, kRunValueData), 0);

    char data[MAX_PATH] = {};
    DWORD size = sizeof(data), type = 0;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(data, "\"c:\\Program Files\\orlimo\\orlimo.exe\"");
    EXPECT_EQ(size, strlen(kRunValueData) + 1) << "stored with its terminating NUL";

    EXPECT_EQ(DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, name), 0) << "present";
    EXPECT_EQ(DeleteRunValue(HKEY_LOCAL_MACHINE, kRunKeyPath, name), 1) << "gone again";
}

TEST(RunValue, MissingKeyIsNotCreated) {
    const char* key = "Software\\orlimo-test-missing-key";
    EXPECT_EQ(SetRunValue(HKEY_LOCAL_MACHINE, key, "v", "d"), 1);
    EXPECT_EQ(DeleteRunValue(HKEY_LOCAL_MACHINE, key, "v"), 1);
    HKEY h;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h), ERROR_SUCCESS);
}
