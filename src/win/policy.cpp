#include "win/policy.h"

#include <windows.h>

#include "core/limits.h"
#include "win/framework.h"
#include "win/registry.h"

namespace orlimo {
namespace {

PolicySource ReadPolicyKey(HKEY root, const char* name, bool for_every_user) {
    PolicySource source;
    source.name = name;
    source.for_every_user = for_every_user;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kPolicyKey, 0, KEY_QUERY_VALUE | PolicyRegistryView(), &key) != ERROR_SUCCESS)
        return source;
    for (const ManagedValue& v : kManagedValues) {
        const std::wstring value_name = Utf8ToWide(v.name);
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key, value_name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) continue;
        PolicyEntry entry;
        entry.name = v.name;
        if (type == REG_DWORD && size == sizeof(DWORD)) {
            DWORD number = 0;
            if (RegQueryValueExW(key, value_name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&number),
                                 &size) != ERROR_SUCCESS)
                continue;
            entry.type = PolicyEntry::Type::Number;
            entry.number = number;
        } else if (type == REG_SZ) {
            std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
            DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
            if (RegQueryValueExW(key, value_name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]),
                                 &bytes) != ERROR_SUCCESS)
                continue;
            text.resize(bytes / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') text.pop_back();
            entry.type = PolicyEntry::Type::Text;
            entry.text = WideToUtf8(text);
        }
        source.entries.push_back(entry);
    }
    RegCloseKey(key);
    return source;
}

}  // namespace

std::vector<PolicySource> ReadPolicies() {
    return {ReadPolicyKey(HKEY_LOCAL_MACHINE, "HKLM\\Software\\Policies\\orlimo", true),
            ReadPolicyKey(HKEY_CURRENT_USER, "HKCU\\Software\\Policies\\orlimo", false)};
}

}  // namespace orlimo
