// menudump.dll: loaded into orlimo.exe by orlimo-driver to read the popup
// menus that the program has open. Menus belong to their process under
// Wine, so another process cannot read them; code running inside can.
//
// DumpMenu(path) is started by the driver as a remote thread with the
// address of a UTF-16 file name in this process. It finds the visible popup
// menu windows (class #32768) of this process, topmost first, asks each for
// its menu (MN_GETHMENU) and writes the item trees as UTF-8 JSON to the file:
//
//   {"pid": N, "menus": [{"hwnd": N, "hmenu": N, "rect": [l,t,r,b],
//                         "items": [ITEM, ...]}, ...]}
//   ITEM: {"pos", "id", "text", "separator", "popup", "enabled", "grayed",
//          "disabled", "checked", "default", "hilite", "menubarbreak",
//          "menubreak", "radio", "ownerdraw", "open", "rect", "items"}
//
// "rect" of an item is in screen pixels and only present while its menu is
// shown; "open" tells whether a submenu is shown right now. The thread's
// exit code is 0 on success, 1 when no menu is open, 2 when the file cannot
// be written.
#include <windows.h>

#include <string>
#include <vector>

#include "json_text.h"

namespace {

std::string Utf8(const wchar_t* s, int len = -1) {
  if (!s) return std::string();
  if (len < 0) len = lstrlenW(s);
  if (len == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, s, len, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s, len, &out[0], n, nullptr, nullptr);
  return out;
}

std::string Quote(const std::string& s) { return JsonQuote(s); }

std::string Num(long long v) { return std::to_string(v); }
const char* Bool(bool b) { return b ? "true" : "false"; }

std::string Rect(const RECT& r) {
  return "[" + Num(r.left) + "," + Num(r.top) + "," + Num(r.right) + "," + Num(r.bottom) + "]";
}

struct PopupWindow {
  HWND hwnd;
  HMENU hmenu;
};

BOOL CALLBACK CollectPopups(HWND hwnd, LPARAM lp) {
  auto* out = reinterpret_cast<std::vector<PopupWindow>*>(lp);
  wchar_t cls[64] = {0};
  GetClassNameW(hwnd, cls, 64);
  if (lstrcmpW(cls, L"#32768") != 0 || !IsWindowVisible(hwnd)) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 3000, &result)) result = 0;
  out->push_back({hwnd, reinterpret_cast<HMENU>(result)});
  return TRUE;
}

bool IsShown(HMENU m, const std::vector<PopupWindow>& shown) {
  for (const auto& p : shown)
    if (p.hmenu == m) return true;
  return false;
}

std::string DumpItems(HMENU menu, const std::vector<PopupWindow>& shown, int depth) {
  std::string out = "[";
  int count = GetMenuItemCount(menu);
  bool visible = IsShown(menu, shown);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW mii;
    ZeroMemory(&mii, sizeof mii);
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    mii.dwTypeData = nullptr;
    if (!GetMenuItemInfoW(menu, i, TRUE, &mii)) continue;
    std::vector<wchar_t> text(mii.cch + 1, L'\0');
    if (mii.cch > 0) {
      mii.cch = static_cast<UINT>(text.size());
      mii.dwTypeData = text.data();
      mii.fMask = MIIM_STRING;
      GetMenuItemInfoW(menu, i, TRUE, &mii);
    }
    // The first call filled everything but the text; ask again for the rest
    // so that a string request cannot disturb the other fields.
    MENUITEMINFOW info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU;
    GetMenuItemInfoW(menu, i, TRUE, &info);

    bool separator = (info.fType & MFT_SEPARATOR) != 0;
    UINT state = info.fState;
    if (i) out += ",";
    out += "{\"pos\":" + Num(i);
    out += ",\"id\":" + Num(info.hSubMenu ? -1 : static_cast<long long>(info.wID));
    out += ",\"text\":" + Quote(separator ? std::string() : Utf8(text.data()));
    out += ",\"separator\":" + std::string(Bool(separator));
    out += ",\"popup\":" + std::string(Bool(info.hSubMenu != nullptr));
    out += ",\"enabled\":" + std::string(Bool((state & (MF_GRAYED | MF_DISABLED)) == 0));
    out += ",\"grayed\":" + std::string(Bool((state & MF_GRAYED) != 0));
    out += ",\"disabled\":" + std::string(Bool((state & MF_DISABLED) != 0));
    out += ",\"checked\":" + std::string(Bool((state & MFS_CHECKED) != 0));
    out += ",\"default\":" + std::string(Bool((state & MFS_DEFAULT) != 0));
    out += ",\"hilite\":" + std::string(Bool((state & MFS_HILITE) != 0));
    out += ",\"menubarbreak\":" + std::string(Bool((info.fType & MFT_MENUBARBREAK) != 0));
    out += ",\"menubreak\":" + std::string(Bool((info.fType & MFT_MENUBREAK) != 0));
    out += ",\"radio\":" + std::string(Bool((info.fType & MFT_RADIOCHECK) != 0));
    out += ",\"ownerdraw\":" + std::string(Bool((info.fType & MFT_OWNERDRAW) != 0));
    RECT r;
    if (visible && GetMenuItemRect(nullptr, menu, i, &r)) out += ",\"rect\":" + Rect(r);
    if (info.hSubMenu) {
      out += ",\"open\":" + std::string(Bool(IsShown(info.hSubMenu, shown)));
      out += ",\"items\":" + (depth < 8 ? DumpItems(info.hSubMenu, shown, depth + 1) : std::string("[]"));
    }
    out += "}";
  }
  return out + "]";
}

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI DumpMenu(LPVOID param) {
  const wchar_t* path = static_cast<const wchar_t*>(param);
  std::vector<PopupWindow> shown;
  EnumWindows(CollectPopups, reinterpret_cast<LPARAM>(&shown));

  std::string json = "{\"pid\":" + Num(GetCurrentProcessId()) + ",\"menus\":[";
  bool first = true;
  for (const auto& p : shown) {
    if (!first) json += ",";
    first = false;
    RECT r = {0, 0, 0, 0};
    GetWindowRect(p.hwnd, &r);
    json += "{\"hwnd\":" + Num(reinterpret_cast<UINT_PTR>(p.hwnd));
    json += ",\"hmenu\":" + Num(reinterpret_cast<UINT_PTR>(p.hmenu));
    json += ",\"rect\":" + Rect(r);
    json += ",\"items\":" + (p.hmenu && IsMenu(p.hmenu) ? DumpItems(p.hmenu, shown, 0) : std::string("[]"));
    json += "}";
  }
  json += "]}\n";

  HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  BOOL ok = WriteFile(f, json.data(), static_cast<DWORD>(json.size()), &written, nullptr);
  CloseHandle(f);
  if (!ok) return 2;
  return shown.empty() ? 1 : 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
