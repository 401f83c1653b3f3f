#include "win/registry.h"

#include <cstring>

namespace orlimo {

int32_t SetRunValue(HKEY root, const char* key_path, const char* value_name, const char* data, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, key_path, 0, KEY_WRITE | view, &key) != ERROR_SUCCESS) return 1;
    LONG rc = RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                             static_cast<DWORD>(strlen(data) + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

bool RunValuePresent(HKEY root, const char* key_path, const char* value_name, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, key_path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    LONG rc = RegQueryValueExA(key, value_name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

int32_t DeleteRunValue(HKEY root, const char* key_path, const char* value_name, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, key_path, 0, KEY_WRITE | view, &key) != ERROR_SUCCESS) return 1;
    LONG rc = RegDeleteValueA(key, value_name);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace orlimo
