// Custom actions of the installer packages: our own code, so that no script
// runs on the administrator's machines. The packages schedule them so:
//
//   CheckSettings          immediate, first in the sequence (before the
//                          component conditions are costed and before
//                          RemoveExistingProducts). At a first installation
//                          and at an upgrade: reads the properties SERVER,
//                          PORT, INTERVAL, USERID, BOOKMARKS and AUTORUN and
//                          the installed shared settings file, and decides
//                          the file's new bytes: the given values over the
//                          file's, or, with none given, the file's own
//                          bytes, so that an upgrade keeps them even when
//                          the old product's removal takes the file away.
//                          A file an editor saved as UTF-8 (it begins with
//                          the byte-order mark) takes the values in UTF-8
//                          and keeps its mark; any other is in the ANSI
//                          code page. Decides config.properties.previous:
//                          the shared file as found, kept for the program
//                          (a value in a user's copy that equals it was not
//                          set by the user), unless one is kept already.
//                          Decides the autorun value (OrlimoAutorun, the
//                          Autorun component's condition): AUTORUN when
//                          given, else at an upgrade what the machine has
//                          now, else on. Bad values stop the installation
//                          before anything is installed, with a message in
//                          the log and, when the installer shows one, on
//                          screen. Hands the decision to the deferred
//                          actions. The properties count only when the
//                          installation runs with an administrator's rights
//                          (AdminUser); else they are ignored, as in
//                          maintenance. In maintenance (a repair, a reinstall,
//                          a modify of the installed product) the
//                          properties are ignored: every user may start
//                          one, and the installer would take their values.
//                          The files stay as they are, and so does the Run
//                          value.
//   WriteSettings          deferred: writes config.properties.previous when
//                          there is none, then the shared settings file
//                          unless it already holds those bytes, keeping a
//                          backup of the old one (or a marker that there
//                          was none).
//   RemoveSettings         deferred, at uninstall (not upgrade): moves the
//                          shared settings file and config.properties.previous
//                          to backups, and removes a Run value left (one
//                          the program wrote).
//   SettingsRollback       rollback of either: puts the old files back, or
//                          removes the ones made; only after this
//                          installation's own backups or markers.
//   SettingsCommit         commit: drops the backups and the markers.
//
// Backups and markers lie in the install folder (only administrators write
// there; the actions run as the system) under names unique to this
// installation, "orlimo-{GUID}.backup", "orlimo-{GUID}.created",
// "orlimo-{GUID}.previous.backup", "orlimo-{GUID}.previous.created".
// The deferred actions get "FOLDER<US>GUID", "FOLDER<US>GUID<US>HEX" or
// "FOLDER<US>GUID<US>HEX<US>PREVIOUS" (US = 0x1F, HEX the new file's bytes,
// PREVIOUS the bytes config.properties.previous is to hold if it is missing)
// as their CustomActionData; an empty one makes them do nothing.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "core/deploy.h"
#include "core/settings.h"
#include "setup_resource.h"
#include "win/atomic_file.h"
#include "win/registry.h"
#include "win/system_dll.h"

namespace {

HINSTANCE g_module = nullptr;

// msi.dll, which is no KnownDLL, from the system folder (never imported;
// see win/system_dll.h), bound when an action starts. The installer's
// process has loaded it already; this DLL only must not take another one,
// and it leaves the process's DLL search as it is.
struct Msi {
    HMODULE module = nullptr;
    decltype(&::MsiGetPropertyW) MsiGetPropertyW = nullptr;
    decltype(&::MsiSetPropertyW) MsiSetPropertyW = nullptr;
    decltype(&::MsiCreateRecord) MsiCreateRecord = nullptr;
    decltype(&::MsiRecordSetStringW) MsiRecordSetStringW = nullptr;
    decltype(&::MsiProcessMessage) MsiProcessMessage = nullptr;
    decltype(&::MsiCloseHandle) MsiCloseHandle = nullptr;
    decltype(&::MsiEnumRelatedProductsW) MsiEnumRelatedProductsW = nullptr;
    decltype(&::MsiQueryProductStateW) MsiQueryProductStateW = nullptr;
};
Msi g_msi;

bool LoadMsi() {
    if (g_msi.module) return true;
    Msi msi;
    msi.module = orlimo::LoadSystemDll(L"msi.dll");
    if (!msi.module) return false;
    bool ok = true;
    auto bind = [&](const char* name, auto* entry) { ok = orlimo::BindEntry(msi.module, name, entry) && ok; };
    bind("MsiGetPropertyW", &msi.MsiGetPropertyW);
    bind("MsiSetPropertyW", &msi.MsiSetPropertyW);
    bind("MsiCreateRecord", &msi.MsiCreateRecord);
    bind("MsiRecordSetStringW", &msi.MsiRecordSetStringW);
    bind("MsiProcessMessage", &msi.MsiProcessMessage);
    bind("MsiCloseHandle", &msi.MsiCloseHandle);
    bind("MsiEnumRelatedProductsW", &msi.MsiEnumRelatedProductsW);
    bind("MsiQueryProductStateW", &msi.MsiQueryProductStateW);
    if (!ok) {
        FreeLibrary(msi.module);
        return false;
    }
    g_msi = msi;
    return true;
}

const wchar_t kSeparator = L'\x1f';
const char kSettings[] = "config.properties";
const char kPrevious[] = "config.properties.previous";
const wchar_t* const kProperties[] = {L"SERVER", L"PORT", L"INTERVAL", L"USERID", L"BOOKMARKS", L"AUTORUN"};

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    DWORD size = 0;
    wchar_t empty[1] = {L'\0'};
    if (g_msi.MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return std::wstring();
    std::wstring value(size + 1, L'\0');
    size += 1;
    if (g_msi.MsiGetPropertyW(install, name, &value[0], &size) != ERROR_SUCCESS) return std::wstring();
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
    MSIHANDLE record = g_msi.MsiCreateRecord(1);
    g_msi.MsiRecordSetStringW(record, 0, L"[1]");
    g_msi.MsiRecordSetStringW(record, 1, text.c_str());
    const int kind = error ? static_cast<int>(INSTALLMESSAGE_ERROR) | MB_OK | MB_ICONERROR
                           : static_cast<int>(INSTALLMESSAGE_INFO);
    g_msi.MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(kind), record);
    g_msi.MsiCloseHandle(record);
}

// Text in a code page: the system's ANSI one, as the settings file holds
// it, or UTF-8 for a file an editor saved so. False when a character has
// no place in it (in UTF-8: half a surrogate pair).
bool Encode(const std::wstring& text, UINT code_page, std::string* out) {
    out->clear();
    if (text.empty()) return true;
    // (Windows 10 and later may have UTF-8 as the ANSI code page.)
    const bool utf8 = code_page == CP_UTF8 || (code_page == CP_ACP && GetACP() == CP_UTF8);
    if (utf8) {
        for (size_t i = 0; i < text.size(); ++i) {
            const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF, low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
            if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
                ++i;
            else if (high || low)
                return false;
        }
    }
    // UTF-8 takes neither the flag nor the "lossy" answer.
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossy_out = utf8 ? nullptr : &lossy;
    const int n = WideCharToMultiByte(code_page, flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, lossy_out);
    if (n <= 0 || lossy) return false;
    out->resize(static_cast<size_t>(n));
    WideCharToMultiByte(code_page, flags, text.data(), static_cast<int>(text.size()), &(*out)[0], n, nullptr,
                        lossy_out);
    return !lossy;
}

bool ToAnsi(const std::wstring& text, std::string* out) { return Encode(text, CP_ACP, out); }

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

// An empty file that says "this installation made that one"; false when it
// cannot be made (or is there already).
bool MakeMarker(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

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

// The deferred actions' data: the install folder, this installation's
// token and, when the file is to be written, its bytes, and those for
// config.properties.previous should there be none.
struct Deferred {
    std::string folder, token;
    bool write = false;
    std::string bytes;
    bool keep_previous = false;
    std::string previous;

    static Deferred Parse(MSIHANDLE install) {
        const std::wstring data = Property(install, L"CustomActionData");
        std::vector<std::wstring> parts;
        for (size_t at = 0;;) {
            const size_t cut = data.find(kSeparator, at);
            parts.push_back(data.substr(at, cut == std::wstring::npos ? cut : cut - at));
            if (cut == std::wstring::npos) break;
            at = cut + 1;
        }
        Deferred d;
        if (parts.size() < 2 || parts[1].empty()) return d;  // nothing to do
        d.folder = Narrow(parts[0]);
        d.token = Narrow(parts[1]);
        if (parts.size() > 2) {
            d.write = true;
            d.bytes = Unhex(parts[2]);
        }
        if (parts.size() > 3) {
            d.keep_previous = true;
            d.previous = Unhex(parts[3]);
        }
        return d;
    }
    bool Usable() const { return !folder.empty(); }
    std::string Target() const { return folder + kSettings; }
    std::string Backup() const { return folder + "orlimo-" + token + ".backup"; }
    std::string Created() const { return folder + "orlimo-" + token + ".created"; }
    std::string RunRemoved() const { return folder + "orlimo-" + token + ".run"; }
    std::string OtherRunRemoved() const { return folder + "orlimo-" + token + ".run-other"; }
    std::string Previous() const { return folder + kPrevious; }
    std::string PreviousBackup() const { return folder + "orlimo-" + token + ".previous.backup"; }
    std::string PreviousCreated() const { return folder + "orlimo-" + token + ".previous.created"; }
};

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The Run value in a registry view (0: this package's own): whether it is
// there, and its removal or writing (the program's own quoted path).
bool RunValue(bool remove_it, bool write_it, REGSAM view = 0) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    bool present = RegQueryValueExW(key, L"orlimo", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (present && remove_it) present = RegDeleteValueW(key, L"orlimo") != ERROR_SUCCESS;
    if (write_it) {
        const std::string data = orlimo::kRunValueData;
        present = RegSetValueExA(key, "orlimo", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return present;
}

// Removes the other view's Run value, noting it for a rollback: one Run
// value at most, the one of the package installed.
void RemoveOtherRunValue(MSIHANDLE install, const std::string& marker) {
    const REGSAM other = orlimo::OtherRegistryView();
    if (!other || !RunValue(false, false, other) || !MakeMarker(marker)) return;
    RunValue(true, false, other);
    Say(install, L"orlimo: the other architecture's Run value removed (one Run value at most)", false);
}

// A name no other installation uses: a new GUID in braces.
std::wstring NewToken() {
    GUID guid;
    wchar_t text[64] = {};
    if (CoCreateGuid(&guid) != S_OK || StringFromGUID2(guid, text, 64) <= 0) {
        wsprintfW(text, L"{%08lx-%08lx}", GetCurrentProcessId(), GetTickCount());
    }
    return text;
}

// Whether another package of ours is installed: then this installation is
// an upgrade (or this removal part of one).
bool OtherProductInstalled(MSIHANDLE install) {
    const std::wstring upgrade_code = Property(install, L"UpgradeCode");
    const std::wstring self = Property(install, L"ProductCode");
    wchar_t product[39] = {};
    for (DWORD i = 0; g_msi.MsiEnumRelatedProductsW(upgrade_code.c_str(), 0, i, product) == ERROR_SUCCESS; ++i)
        if (lstrcmpiW(product, self.c_str()) != 0) return true;
    return false;
}

// Whether another package of ours is installed, or is installing: then this
// one's removal is part of an upgrade, and the settings stay. (Windows sets
// UPGRADINGPRODUCTCODE for such a removal; not every installer does, so the
// installed products are asked as well.)
bool UpgradeUnderWay(MSIHANDLE install) {
    return !Property(install, L"UPGRADINGPRODUCTCODE").empty() || OtherProductInstalled(install);
}

// Whether the machine-wide Run value "orlimo" exists in a registry view (0:
// this package's own); only read, which any user may.
bool AutorunPresentIn(REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    const bool present = RegQueryValueExW(key, L"orlimo", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return present;
}

// Whether it exists in either view (the x86 package writes the 32-bit one,
// the x64 package the other).
bool AutorunPresent() { return AutorunPresentIn(KEY_WOW64_64KEY) || AutorunPresentIn(KEY_WOW64_32KEY); }

// Maintenance: this product is installed and stays (a repair, a
// reinstall, a modify). Not so where it is only advertised, as a Group
// Policy assignment to users makes it before its first real installation.
bool Maintenance(MSIHANDLE install) {
    if (Property(install, L"Installed").empty()) return false;
    const std::wstring self = Property(install, L"ProductCode");
    return g_msi.MsiQueryProductStateW(self.c_str()) != INSTALLSTATE_ADVERTISED;
}

UINT Refuse(MSIHANDLE install, UINT message, const std::wstring& property, const std::wstring& value) {
    Say(install, LoadText(message) + L" " + property + L"=\u201c" + value + L"\u201d", true);
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall CheckSettings(MSIHANDLE install) {
    if (!LoadMsi()) return ERROR_INSTALL_FAILURE;
    const std::wstring folder = Property(install, L"OrlimoFolder");
    std::wstring data = folder + kSeparator + NewToken();
    const std::wstring remove = Property(install, L"REMOVE");
    if (remove == L"ALL") {
        // The Autorun component's condition holds at removal too: a
        // component whose condition fails is left alone by the removal
        // (Wine's msiexec costs the conditions again every time).
        g_msi.MsiSetPropertyW(install, L"OrlimoAutorun", L"1");
        if (UpgradeUnderWay(install)) {
            Say(install, L"orlimo: removed for an upgrade: config.properties stays", false);
            data.clear();
        }
    } else if (Maintenance(install)) {
        // Any user may start a repair or a reinstall of the installed
        // product, with properties of their own, which the installer would
        // pass on: none of them counts.
        std::wstring ignored;
        for (const wchar_t* name : kProperties)
            if (!Property(install, name).empty()) ignored += std::wstring(L" ") + name;
        std::wstring text = L"orlimo: a repair, reinstall or modify of the installed product: config.properties, "
                            L"config.properties.previous and the Run value stay as they are";
        if (!ignored.empty()) text += L"; ignored:" + ignored;
        text += L" (the properties count only at a first installation and at an upgrade: install a new version "
                L"with them, or edit config.properties by hand)";
        Say(install, text, false);
        // The Run value as it is in this package's view: the component
        // is (re)installed only where it is there already (its condition
        // is evaluated again at a reinstall).
        g_msi.MsiSetPropertyW(install, L"OrlimoAutorun", AutorunPresentIn(0) ? L"1" : L"");
        data.clear();
    } else {
        std::string existing;
        const bool have = ReadWholeFile(Narrow(folder) + kSettings, &existing);
        // An editor's UTF-8 (with its mark, or Notepad's without): the
        // values given are written in UTF-8 too.
        const bool utf8 = have && orlimo::IsUtf8Encoding(orlimo::DetectEncoding(existing));
        if (utf8) Say(install, L"orlimo: config.properties is UTF-8", false);
        // Who, not only when: a standard user may start the installation of
        // a package that Group Policy advertised, which then runs elevated
        // and would pass their properties on (the package sets
        // MSIUSEREALADMINDETECTION, so AdminUser says whether the user who
        // started it is an administrator).
        const bool admin = !Property(install, L"AdminUser").empty();
        if (!admin) {
            std::wstring ignored;
            for (const wchar_t* name : kProperties)
                if (!Property(install, name).empty()) ignored += std::wstring(L" ") + name;
            Say(install,
                L"orlimo: the installation does not run with an administrator's rights (AdminUser): "
                L"config.properties is written as without properties" +
                    (ignored.empty() ? std::wstring() : L"; ignored:" + ignored),
                false);
        }
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
            const std::wstring value = admin ? Property(install, g.name) : std::wstring();
            if (!Encode(value, utf8 ? CP_UTF8 : CP_ACP, &(given.*g.field)))
                return Refuse(install, IDS_SETUP_CODE_PAGE, g.name, value);
        }
        const std::wstring autorun = admin ? Property(install, L"AUTORUN") : std::wstring();
        if (!autorun.empty() && autorun != L"1" && autorun != L"0")
            return Refuse(install, IDS_SETUP_BAD_AUTORUN, L"AUTORUN", autorun);
        bool run = true;
        if (!autorun.empty()) {
            run = autorun == L"1";
        } else if (OtherProductInstalled(install)) {
            run = AutorunPresent();
            Say(install, run ? L"orlimo: upgrade: the Run value stays" : L"orlimo: upgrade: autorun stays off", false);
        }
        g_msi.MsiSetPropertyW(install, L"OrlimoAutorun", run ? L"1" : L"");

        orlimo::DeployResult result =
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
        if (!result.file && have) {
            // Written back should the old product's removal take it away.
            Say(install, L"orlimo: config.properties is kept as it is (no settings given)", false);
            result.file = existing;
        }
        // config.properties.previous: the one kept already (written back
        // should the old product's removal take it away), else the shared
        // file as found here, before this installation changes it.
        const std::string previous_path = Narrow(folder) + kPrevious;
        std::string previous;
        bool keep = ReadWholeFile(previous_path, &previous);
        if (!keep && have && !Exists(previous_path)) {
            previous = existing;
            keep = true;
        }
        if (result.file) {
            data += kSeparator;
            data += Hex(*result.file);
            if (keep) {
                data += kSeparator;
                data += Hex(previous);
            }
        }
    }
    for (const wchar_t* action : {L"WriteSettings", L"WriteSettingsRollback", L"RemoveSettings",
                                  L"RemoveSettingsRollback", L"SettingsCommit"})
        g_msi.MsiSetPropertyW(install, action, data.c_str());
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall WriteSettings(MSIHANDLE install) {
    if (!LoadMsi()) return ERROR_INSTALL_FAILURE;
    const Deferred d = Deferred::Parse(install);
    if (!d.Usable()) return ERROR_SUCCESS;
    // A hand-installed program of the other architecture left its Run value
    // in the other registry view; this package's own is its component's.
    RemoveOtherRunValue(install, d.OtherRunRemoved());
    if (!d.write) return ERROR_SUCCESS;
    // First the shared file as it was before (the first one kept stays):
    // the program counts a value in a user's copy that equals it as not
    // set by the user.
    if (d.keep_previous && !Exists(d.Previous())) {
        if (!MakeMarker(d.PreviousCreated())) {
            Say(install, L"orlimo: cannot write in the install folder", true);
            return ERROR_INSTALL_FAILURE;
        }
        if (!orlimo::ReplaceFileAtomically(d.Previous(), d.previous)) {
            Say(install, L"orlimo: cannot write config.properties.previous", true);
            return ERROR_INSTALL_FAILURE;
        }
        Say(install, L"orlimo: config.properties.previous written (the shared settings as found)", false);
    }
    std::string current;
    if (ReadWholeFile(d.Target(), &current)) {
        if (current == d.bytes) {
            Say(install, L"orlimo: config.properties already holds these settings", false);
            return ERROR_SUCCESS;
        }
        if (!CopyFileA(d.Target().c_str(), d.Backup().c_str(), TRUE)) {
            Say(install, L"orlimo: cannot keep a copy of config.properties", true);
            return ERROR_INSTALL_FAILURE;
        }
    } else if (Exists(d.Target())) {
        Say(install, L"orlimo: cannot read config.properties", true);
        return ERROR_INSTALL_FAILURE;
    } else if (!MakeMarker(d.Created())) {
        Say(install, L"orlimo: cannot write in the install folder", true);
        return ERROR_INSTALL_FAILURE;
    }
    if (!orlimo::ReplaceFileAtomically(d.Target(), d.bytes)) {
        Say(install, L"orlimo: cannot write config.properties", true);
        return ERROR_INSTALL_FAILURE;
    }
    Say(install, L"orlimo: config.properties written", false);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RemoveSettings(MSIHANDLE install) {
    if (!LoadMsi()) return ERROR_INSTALL_FAILURE;
    const Deferred d = Deferred::Parse(install);
    if (!d.Usable()) return ERROR_SUCCESS;
    for (const auto& [file, backup] : {std::make_pair(d.Target(), d.Backup()),
                                       std::make_pair(d.Previous(), d.PreviousBackup())})
        if (Exists(file))
            MoveFileExA(file.c_str(), backup.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
    // A Run value the package did not write (autorun switched on with the
    // program after an installation without it) would outlive the program.
    if (RunValue(false, false) && MakeMarker(d.RunRemoved())) RunValue(true, false);
    RemoveOtherRunValue(install, d.OtherRunRemoved());
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall SettingsRollback(MSIHANDLE install) {
    if (!LoadMsi()) return ERROR_INSTALL_FAILURE;
    const Deferred d = Deferred::Parse(install);
    if (!d.Usable()) return ERROR_SUCCESS;
    const DWORD back = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
    if (Exists(d.Backup())) {
        MoveFileExA(d.Backup().c_str(), d.Target().c_str(), back);
        Say(install, L"orlimo: config.properties put back", false);
    } else if (Exists(d.Created())) {
        DeleteFileA(d.Target().c_str());
        Say(install, L"orlimo: config.properties made by this installation removed", false);
    }
    DeleteFileA(d.Created().c_str());
    if (Exists(d.PreviousBackup())) {
        MoveFileExA(d.PreviousBackup().c_str(), d.Previous().c_str(), back);
    } else if (Exists(d.PreviousCreated())) {
        DeleteFileA(d.Previous().c_str());
        Say(install, L"orlimo: config.properties.previous made by this installation removed", false);
    }
    DeleteFileA(d.PreviousCreated().c_str());
    if (Exists(d.RunRemoved())) {
        RunValue(false, true);
        DeleteFileA(d.RunRemoved().c_str());
    }
    if (Exists(d.OtherRunRemoved())) {
        if (const REGSAM other = orlimo::OtherRegistryView()) RunValue(false, true, other);
        DeleteFileA(d.OtherRunRemoved().c_str());
    }
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall SettingsCommit(MSIHANDLE install) {
    if (!LoadMsi()) return ERROR_INSTALL_FAILURE;
    const Deferred d = Deferred::Parse(install);
    if (!d.Usable()) return ERROR_SUCCESS;
    for (const std::string& file :
         {d.Backup(), d.Created(), d.PreviousBackup(), d.PreviousCreated(), d.RunRemoved(), d.OtherRunRemoved()})
        DeleteFileA(file.c_str());
    // After an uninstall the backups were the folder's last files; a folder
    // that still holds something stays.
    RemoveDirectoryA(d.folder.c_str());
    return ERROR_SUCCESS;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}
