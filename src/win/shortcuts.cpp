#include "win/shortcuts.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "win/framework.h"

namespace orlimo {

std::wstring SpecialFolderPath(int csidl) {
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &pidl)) || !pidl) return std::wstring();
    // Long paths: a buffer well past MAX_PATH, and the result is checked.
    wchar_t path[MAX_PATH * 2] = {};
    BOOL ok = SHGetPathFromIDListW(pidl, path);
    CoTaskMemFree(pidl);
    return ok ? std::wstring(path) : std::wstring();
}

std::wstring ShortcutFolderPath(ShortcutFolder folder) {
    switch (folder) {
    case ShortcutFolder::Desktop: return SpecialFolderPath(CSIDL_DESKTOP);
    case ShortcutFolder::DesktopDirectory: return SpecialFolderPath(CSIDL_DESKTOPDIRECTORY);
    case ShortcutFolder::StartMenu: return SpecialFolderPath(CSIDL_STARTMENU);
    case ShortcutFolder::QuickLaunch: {
        std::wstring base = SpecialFolderPath(CSIDL_APPDATA);
        return base.empty() ? base : base + Utf8ToWide(kQuickLaunchSubfolder);
    }
    }
    return std::wstring();
}

namespace {
bool SaveLink(IShellLinkW* link, const std::wstring& link_path) {
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) || !file)
        return false;
    HRESULT hr = file->Save(link_path.c_str(), TRUE);
    file->Release();
    return SUCCEEDED(hr);
}

IShellLinkW* NewLink(const std::wstring& target) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))) ||
        !link)
        return nullptr;
    link->SetPath(target.c_str());
    return link;
}
}  // namespace

bool CreatePortalLink(const std::wstring& target, const std::wstring& link_path,
                      const std::wstring& arguments) {
    IShellLinkW* link = NewLink(target);
    if (!link) return false;
    link->SetIconLocation(Utf8ToWide(kShortcutIconFile).c_str(), kShortcutIconIndex);
    link->SetArguments(arguments.c_str());
    link->SetShowCmd(SW_SHOWMAXIMIZED);
    bool ok = SaveLink(link, link_path);
    link->Release();
    return ok;
}

bool CreatePlainLink(const std::wstring& target, const std::wstring& link_path) {
    IShellLinkW* link = NewLink(target);
    if (!link) return false;
    link->SetShowCmd(SW_SHOWMAXIMIZED);
    bool ok = SaveLink(link, link_path);
    link->Release();
    return ok;
}

void NotifyShellOfLink(LONG event, const std::wstring& link_path) {
    SHChangeNotify(event, SHCNF_PATHW | SHCNF_FLUSH, link_path.c_str(), nullptr);
    std::wstring folder = link_path;
    size_t cut = folder.find_last_of(L'\\');
    if (cut != std::wstring::npos) folder.erase(cut);
    SHChangeNotify(SHCNE_UPDATEDIR | SHCNE_INTERRUPT, SHCNF_PATHW | SHCNF_FLUSH, folder.c_str(),
                   nullptr);
}

bool WriteShortcutStep(const ShortcutStep& step) {
    std::wstring folder = ShortcutFolderPath(step.folder);
    if (folder.empty()) return false;
    const std::wstring path = folder + Utf8ToWide(step.file_name);
    const std::wstring target = Utf8ToWide(step.target);
    bool ok = step.writer == ShortcutWriter::PortalLink
                  ? CreatePortalLink(target, path, SettingsTextToWide(step.arguments))
                  : CreatePlainLink(target, path);
    if (ok) NotifyShellOfLink(SHCNE_CREATE | SHCNE_INTERRUPT, path);
    return ok;
}

void CreateAllShortcuts(const Settings& settings) {
    // A step that could not be written is not announced, and the next steps
    // still run.
    for (const ShortcutStep& step : AllShortcutsPlan(settings)) WriteShortcutStep(step);
}

void CreatePortalShortcut(const Settings& settings, int csidl, int quick_launch) {
    ShortcutFolder folder = quick_launch == 1        ? ShortcutFolder::QuickLaunch
                            : csidl == CSIDL_STARTMENU ? ShortcutFolder::StartMenu
                                                       : ShortcutFolder::DesktopDirectory;
    WriteShortcutStep(PortalShortcutStep(folder, settings));
}

}  // namespace orlimo
