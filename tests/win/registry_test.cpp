// The autorun registry value and the policies.
#include <gtest/gtest.h>

#include <cstring>

#include "win/policy.h"
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

// Policies: both keys, in the view both programs read; each type as it is.
TEST(Policy, ReadsMachineThenUserPolicyWithTheirTypes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kPolicyKey, 0, nullptr, 0, KEY_SET_VALUE | PolicyRegistryView(),
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD port = 8443;
    const wchar_t server[] = L"\u95e8\u6237.example";  // 门户.example
    RegSetValueExW(key, L"server_port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof(port));
    RegSetValueExW(key, L"server", 0, REG_SZ, reinterpret_cast<const BYTE*>(server), sizeof(server));
    RegSetValueExW(key, L"bookmark", 0, REG_BINARY, reinterpret_cast<const BYTE*>("x"), 1);
    RegCloseKey(key);
    const std::vector<PolicySource> sources = ReadPolicies();
    RegDeleteKeyW(HKEY_CURRENT_USER, kPolicyKey);
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_TRUE(sources[0].for_every_user);
    EXPECT_TRUE(sources[0].entries.empty()) << "no machine policy here";
    const PolicySource& user = sources[1];
    EXPECT_FALSE(user.for_every_user);
    ASSERT_EQ(user.entries.size(), 3u);  // in the order of the managed values
    EXPECT_EQ(user.entries[0].name, "server");
    EXPECT_EQ(user.entries[0].text, "门户.example");
    EXPECT_EQ(user.entries[1].type, PolicyEntry::Type::Number);
    EXPECT_EQ(user.entries[1].number, 8443);
    EXPECT_EQ(user.entries[2].type, PolicyEntry::Type::Other);
}
