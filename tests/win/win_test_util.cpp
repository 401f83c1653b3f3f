#include "win_test_util.h"

#include <cstdio>

namespace orlimo_test {

std::string MakeScratchFolder(const char* tag) {
    // Process ids repeat across runs under Wine: make the name unique by
    // trying until a folder is new.
    static unsigned counter = GetTickCount();
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    for (;;) {
        char name[64];
        snprintf(name, sizeof(name), "orlimo-%s-%u\\", tag, ++counter);
        std::string folder = std::string(temp) + name;
        if (CreateDirectoryA(folder.c_str(), nullptr)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return folder;
    }
}

std::string ReadFileBytes(const std::string& path, bool* ok) {
    std::string data;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (ok) *ok = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got) data.append(buf, got);
    CloseHandle(h);
    return data;
}

bool WriteFileBytes(const std::string& path, const std::string& data) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = data.empty() || WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == data.size();
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace orlimo_test
