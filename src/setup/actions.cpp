// Custom actions of the installer packages: our own code, so that no script
// runs on the administrator's machines. The packages schedule them so:
//
//   CheckSettings          immediate, before InstallInitialize. Reads the
//                          properties SERVER, PORT, INTERVAL, USERID and
//                          BOOKMARKS and the installed shared settings file,
//                          and decides the file's new bytes (or to keep it).
//                          Bad values stop the installation before anything
//                          is installed, with a message in the log and, when
//                          the installer shows one, on screen. Hands the
//                          decision to the deferred actions below.
//   WriteSettings          deferred: writes the shared settings file (or
//                          leaves it alone), keeping a backup of the old one
//                          in the system's temporary folder.
//   RemoveSettings         deferred, at uninstall (not upgrade): moves the
//                          shared settings file to that backup.
//   SettingsRollback       rollback of either: puts the old file back, or
//                          removes the one made.
//   SettingsCommit         commit: drops the backup.
//
// The deferred actions get "FOLDER" or "FOLDER<US>HEX" (US = 0x1F, HEX the
// new file's bytes) as their CustomActionData.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "core/deploy.h"
#include "setup_resource.h"
#include "win/appcore.h"

namespace {

HINSTANCE g_module = nullptr;
const wchar_t kSeparator = L'\x1f';
const char kSettings[] = "config.properties";

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    DWORD size = 0;
    wchar_t empty[1] = {L'\0'};
    if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return std::wstring();
    std::wstring value(size + 1, L'\0');
    size += 1;
    if (MsiGetPropertyW(install, name, &value[0], &size) != ERROR_SUCCESS) return std::wstring();
    value.resize(size);
    return value;
}

std::wstring LoadText(UINT id) {
    const wchar_t* text = nullptr;
    int n = LoadStringW(g_module, id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 ? std::wstring(text, static_cast<size_t>(n)) : std::wstring();
}

// A line in the installer's log; with `error`, also a message box when the
// installer has a user interface. The text is never read as formatted text.
void Say(MSIHANDLE install, const std::wstring& text, bool error) {
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, text.c_str());
    const int kind = error ? static_cast<int>(INSTALLMESSAGE_ERROR) | MB_OK | MB_ICONERROR
                           : static_cast<int>(INSTALLMESSAGE_INFO);
    MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(kind), record);
    MsiCloseHandle(record);
}

// Text in the system's ANSI code page, as the settings file holds it; false
// when a character has no place in that code page.
bool ToAnsi(const std::wstring& text, std::string* out) {
    out->clear();
    if (text.empty()) return true;
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    out->resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), &(*out)[0],
                        n, nullptr, &lossy);
    return !lossy;
}

std::string Narrow(const std::wstring& path) {
    std::string out;
    ToAnsi(path, &out);
    return out;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    data->clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) data->append(buffer, got);
    CloseHandle(h);
    return true;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Hex(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Unhex(const std::wstring& hex) {
    auto value = [](wchar_t c) { return c <= L'9' ? c - L'0' : c - L'a' + 10; };
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(value(hex[i]) << 4 | value(hex[i + 1])));
    return out;
}

// The deferred actions' data: the install folder and, when the file is to
// be written, its bytes.
struct Deferred {
    std::string folder;
    bool write = false;
    std::string bytes;

    static Deferred Parse(MSIHANDLE install) {
        const std::wstring data = Property(install, L"CustomActionData");
        const size_t cut = data.find(kSeparator);
        Deferred d;
        d.folder = Narrow(data.substr(0, cut));
        if (cut != std::wstring::npos) {
            d.write = true;
            d.bytes = Unhex(data.substr(cut + 1));
        }
        return d;
    }
    std::string Target() const { return folder + kSettings; }
    // Kept outside the install folder, so that an uninstall leaves no
    // folder behind that only a backup holds.
    std::string Backup() const { return Scratch() + "orlimo-config.properties.backup"; }
    std::string Created() const { return Scratch() + "orlimo-config.properties.created"; }

private:
    static std::string Scratch() {
        char temp[MAX_PATH + 1] = {};
        DWORD n = GetTempPathA(sizeof(temp), temp);
        return n > 0 && n < sizeof(temp) ? std::string(temp, n) : std::string("c:\\");
    }
};

// Whether another package of ours is installed, or is installing: then this
// one's removal is part of an upgrade, and the settings stay. (Windows sets
// UPGRADINGPRODUCTCODE for such a removal; not every installer does, so the
// installed products are asked as well.)
bool UpgradeUnderWay(MSIHANDLE install) {
    if (!Property(install, L"UPGRADINGPRODUCTCODE").empty()) return true;
    const std::wstring upgrade_code = Property(install, L"UpgradeCode");
    const std::wstring self = Property(install, L"ProductCode");
    wchar_t product[39] = {};
    for (DWORD i = 0; MsiEnumRelatedProductsW(upgrade_code.c_str(), 0, i, product) == ERROR_SUCCESS; ++i)
        if (lstrcmpiW(product, self.c_str()) != 0) return true;
    return false;
}

UINT Refuse(MSIHANDLE install, UINT message, const std::wstring& property, const std::wstring& value) {
    Say(install, LoadText(message) + L" " + property + L"=\u201c" + value + L"\u201d", true);
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall CheckSettings(MSIHANDLE install) {
    const std::wstring folder = Property(install, L"OrlimoFolder");
    std::wstring data = folder;
    const std::wstring remove = Property(install, L"REMOVE");
    if (remove == L"ALL") {
        if (UpgradeUnderWay(install)) {
            Say(install, L"orlimo: removed for an upgrade: config.properties stays", false);
            data.clear();
        }
    } else {
        struct Given {
            const wchar_t* name;
            std::string orlimo::DeployValues::*field;
        } const kGiven[] = {
            {L"SERVER", &orlimo::DeployValues::server},     {L"PORT", &orlimo::DeployValues::port},
            {L"INTERVAL", &orlimo::DeployValues::interval}, {L"USERID", &orlimo::DeployValues::user_id},
            {L"BOOKMARKS", &orlimo::DeployValues::bookmarks},
        };
        orlimo::DeployValues given;
        for (const Given& g : kGiven) {
            const std::wstring value = Property(install, g.name);
            if (!ToAnsi(value, &(given.*g.field))) return Refuse(install, IDS_SETUP_CODE_PAGE, g.name, value);
        }
        std::string existing;
        const bool have = ReadWholeFile(Narrow(folder) + kSettings, &existing);
        const orlimo::DeployResult result =
            orlimo::DeploySettings(have ? std::optional<std::string>(existing) : std::nullopt, given);
        switch (result.error) {
        case orlimo::DeployError::None: break;
        case orlimo::DeployError::BadServer:
            return Refuse(install, IDS_SETUP_BAD_SERVER, L"SERVER", Property(install, L"SERVER"));
        case orlimo::DeployError::BadPort:
            return Refuse(install, IDS_SETUP_BAD_PORT, L"PORT", Property(install, L"PORT"));
        case orlimo::DeployError::BadInterval:
            return Refuse(install, IDS_SETUP_BAD_INTERVAL, L"INTERVAL", Property(install, L"INTERVAL"));
        case orlimo::DeployError::BadUserId:
            return Refuse(install, IDS_SETUP_BAD_USERID, L"USERID", Property(install, L"USERID"));
        case orlimo::DeployError::BadBookmarks:
            return Refuse(install, IDS_SETUP_BAD_BOOKMARKS, L"BOOKMARKS", Property(install, L"BOOKMARKS"));
        }
        if (result.file) {
            data += kSeparator;
            data += Hex(*result.file);
        } else {
            Say(install, L"orlimo: config.properties is kept as it is (no settings given)", false);
        }
    }
    for (const wchar_t* action : {L"WriteSettings", L"WriteSettingsRollback", L"RemoveSettings",
                                  L"RemoveSettingsRollback", L"SettingsCommit"})
        MsiSetPropertyW(install, action, data.c_str());
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall WriteSettings(MSIHANDLE install) {
    const Deferred d = Deferred::Parse(install);
    if (!d.write || d.folder.empty()) return ERROR_SUCCESS;
    if (Exists(d.Target())) {
        if (!CopyFileA(d.Target().c_str(), d.Backup().c_str(), FALSE)) {
            Say(install, L"orlimo: cannot keep a copy of config.properties", true);
            return ERROR_INSTALL_FAILURE;
        }
    } else {
        HANDLE h = CreateFileA(d.Created().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    if (!orlimo::ReplaceFileAtomically(d.Target(), d.bytes)) {
        Say(install, L"orlimo: cannot write config.properties", true);
        return ERROR_INSTALL_FAILURE;
    }
    Say(install, L"orlimo: config.properties written", false);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RemoveSettings(MSIHANDLE install) {
    const Deferred d = Deferred::Parse(install);
    if (!d.folder.empty() && Exists(d.Target()))
        MoveFileExA(d.Target().c_str(), d.Backup().c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall SettingsRollback(MSIHANDLE install) {
    const Deferred d = Deferred::Parse(install);
    if (d.folder.empty()) return ERROR_SUCCESS;
    if (Exists(d.Backup())) {
        MoveFileExA(d.Backup().c_str(), d.Target().c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
    } else if (Exists(d.Created())) {
        DeleteFileA(d.Target().c_str());
    }
    DeleteFileA(d.Created().c_str());
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall SettingsCommit(MSIHANDLE install) {
    const Deferred d = Deferred::Parse(install);
    DeleteFileA(d.Backup().c_str());
    DeleteFileA(d.Created().c_str());
    return ERROR_SUCCESS;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}
