// orlimo-driver: a console program that looks at and pokes the running
// orlimo.exe from inside the same Wine prefix, for the end-to-end tests.
//
//   orlimo-driver SUBCOMMAND [ARGS...]
//
// Every subcommand prints one JSON document (UTF-8) on stdout and exits
// with 0 on success, 1 when what it looked or waited for is not there, 2 on
// a usage error and 3 when a system call failed. Before anything else it
// writes "orlimo-driver: started" on stderr. Numbers may be written in
// decimal or as 0x hex. Times are in milliseconds.
//
//   frame                     the program's main windows (class OrlimoMainFrame)
//   wait-frame MS             wait until a main window exists
//   windows [--all]           top-level windows (visible ones unless --all)
//   tray-icons                tray icon windows, screen rectangles, tooltips
//                             and the text of a balloon shown at each
//   tooltips                  every tool of every tooltip window
//   wait-tray MS [TEXT]       wait for a tray icon (whose tooltip is TEXT)
//   wait-no-tray MS           wait until no tray icon is left
//   post-tray MOUSEMSG...     post the tray callback (WM_USER+1, icon 128),
//                             once for each mouse message, all at once
//   post-command ID           post WM_COMMAND ID to the main window
//   post MSG WPARAM LPARAM    post any message to the main window
//   send MSG WPARAM LPARAM    send it (5 s time-out) and print the result
//   wait-dialog TITLE MS      wait for a visible dialog (#32770) with TITLE
//   wait-no-dialog TITLE MS   wait until no such dialog is visible
//   dialog TITLE              the dialog's controls: id, class, text, state
//   set-text TITLE ID TEXT    WM_SETTEXT to control ID of the dialog
//   click TITLE ID            post BM_CLICK to control ID of the dialog
//   wait-menu MS              wait until the program shows a popup menu
//   menu                      the program's open popup menus, read from
//                             inside it by menudump.dll
//   menu-key KEY...           post keys to its topmost open popup menu:
//                             down up left right return escape, or c:X
//                             for the character X
//   menu-close                press Escape until no popup menu is left
//   reset-ui                  close whatever the program has open (popup
//                             menus, message boxes, dialogs: the topmost
//                             enabled one first, by its Cancel button, else
//                             its OK button, else WM_CLOSE) and list what
//                             was closed; exit 1 when something stayed
//   wait-exit PID MS          wait until process PID has ended
//   reg-get KEY VALUE         a registry value exactly as stored: type, byte
//                             count, bytes (hex) and text; KEY is written
//                             like HKLM\Software\Name or HKCU\Software\Name
//   user                      the logged-on user name (GetUserNameW)
//   acp                       the ANSI and OEM code pages
//   cursor [X Y]              print (or set) the cursor position
//   tray-forget               remove the program's tray icon from outside
//                             (NIM_DELETE with its window and icon id), as a
//                             taskbar that restarted has forgotten it
//   taskbar-created           broadcast "TaskbarCreated", as a new taskbar does
//   shell-open ADDRESS        ShellExecuteW "open" of ADDRESS
//   busy-shell MS             for MS, a shell tray window (Shell_TrayWnd)
//                             in front of the real one that refuses every
//                             icon, as an Explorer that is not ready yet at
//                             logon; prints when it is gone
//   cover-screen MS           for MS (or until close-cover), a borderless
//                             topmost window covering the primary screen
//                             that takes the foreground, as a slide show
//                             or a full-screen call; prints when it is gone
//   close-cover               close cover-screen's window
//   foreground                the foreground window (null when none)
//   start-limited PATH [ARGS] start PATH (current folder its own) with this
//                             session's limited token, the one a user under
//                             UAC runs programs with; prints its pid and
//                             whether that token is elevated
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "json_text.h"

namespace {

const wchar_t kFrameClass[] = L"OrlimoMainFrame";
const UINT kTrayCallback = WM_USER + 1;
const UINT kTrayIconId = 128;
const char kStartedLine[] = "orlimo-driver: started\n";

// ---------------------------------------------------------------- output

std::string Utf8(const std::wstring& s) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::string Quote(const std::wstring& ws) { return JsonQuote(Utf8(ws)); }

std::string Num(long long v) { return std::to_string(v); }
std::string Bool(bool b) { return b ? "true" : "false"; }
std::string H(HWND h) { return Num(static_cast<long long>(reinterpret_cast<UINT_PTR>(h))); }
std::string Rect(const RECT& r) {
  return "[" + Num(r.left) + "," + Num(r.top) + "," + Num(r.right) + "," + Num(r.bottom) + "]";
}

void Print(const std::string& s) {
  std::string line = s + "\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (!out || out == INVALID_HANDLE_VALUE ||
      !WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
}

int Fail(int code, const std::string& what) {
  Print("{\"error\":" + Quote(std::wstring(what.begin(), what.end())) + ",\"code\":" +
        Num(static_cast<long long>(GetLastError())) + "}");
  return code;
}

// ---------------------------------------------------------------- windows

std::wstring ClassOf(HWND h) {
  wchar_t buf[256] = {0};
  GetClassNameW(h, buf, 256);
  return buf;
}

std::wstring TextOf(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &len)) return std::wstring();
  std::vector<wchar_t> buf(len + 2, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, 3000, &got);
  return std::wstring(buf.data());
}

// A top-level window's title without sending it a message, so that a
// program whose thread is busy cannot stall the driver.
std::wstring TitleOf(HWND h) {
  wchar_t buf[1024] = {0};
  InternalGetWindowText(h, buf, 1024);
  return buf;
}

DWORD PidOf(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  return pid;
}

BOOL CALLBACK CollectHwnd(HWND h, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
  return TRUE;
}

// Top-level windows in z-order, topmost first.
std::vector<HWND> TopLevels() {
  std::vector<HWND> out;
  EnumWindows(CollectHwnd, reinterpret_cast<LPARAM>(&out));
  return out;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  EnumChildWindows(parent, CollectHwnd, reinterpret_cast<LPARAM>(&out));
  return out;
}

std::vector<HWND> Frames() {
  std::vector<HWND> out;
  for (HWND h : TopLevels())
    if (ClassOf(h) == kFrameClass) out.push_back(h);
  return out;
}

HWND Frame() {
  std::vector<HWND> f = Frames();
  return f.empty() ? nullptr : f.front();
}

std::string WindowJson(HWND h) {
  RECT r = {0, 0, 0, 0};
  GetWindowRect(h, &r);
  DWORD pid = 0, tid = GetWindowThreadProcessId(h, &pid);
  return "{\"hwnd\":" + H(h) + ",\"pid\":" + Num(pid) + ",\"tid\":" + Num(tid) +
         ",\"class\":" + Quote(ClassOf(h)) + ",\"title\":" + Quote(TitleOf(h)) +
         ",\"visible\":" + Bool(IsWindowVisible(h) != FALSE) + ",\"rect\":" + Rect(r) + "}";
}

std::string Join(const std::vector<std::string>& parts) {
  std::string out = "[";
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "," : "") + parts[i];
  return out + "]";
}

bool ParseNum(const wchar_t* s, long long* out) {
  if (!s || !*s) return false;
  wchar_t* end = nullptr;
  long long v = std::wcstoll(s, &end, 0);
  if (*end) return false;
  *out = v;
  return true;
}

// ---------------------------------------------------------------- tooltips

struct Tool {
  HWND tooltip;
  HWND owner;
  HWND hwnd;
  UINT_PTR id;
  std::wstring text;
};

// Reads every tool of a tooltip window of another process: the messages
// carry pointers, so the structures live in memory allocated over there.
std::vector<Tool> ToolsOf(HWND tip) {
  std::vector<Tool> tools;
  HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                            FALSE, PidOf(tip));
  if (!proc) return tools;
  const SIZE_T kTextChars = 1024;
  const SIZE_T size = sizeof(TTTOOLINFOW) + kTextChars * sizeof(wchar_t);
  char* remote = static_cast<char*>(VirtualAllocEx(proc, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
  if (!remote) {
    CloseHandle(proc);
    return tools;
  }
  wchar_t* remoteText = reinterpret_cast<wchar_t*>(remote + sizeof(TTTOOLINFOW));
  DWORD_PTR count = 0;
  SendMessageTimeoutW(tip, TTM_GETTOOLCOUNT, 0, 0, SMTO_ABORTIFHUNG, 3000, &count);
  for (DWORD_PTR i = 0; i < count && i < 256; ++i) {
    TTTOOLINFOW ti;
    ZeroMemory(&ti, sizeof ti);
    ti.cbSize = sizeof ti;
    SIZE_T io = 0;
    WriteProcessMemory(proc, remote, &ti, sizeof ti, &io);
    DWORD_PTR ok = 0;
    if (!SendMessageTimeoutW(tip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 3000, &ok) || !ok)
      continue;
    ReadProcessMemory(proc, remote, &ti, sizeof ti, &io);
    std::vector<wchar_t> zero(kTextChars, L'\0');
    WriteProcessMemory(proc, remoteText, zero.data(), kTextChars * sizeof(wchar_t), &io);
    ti.lpszText = remoteText;
    WriteProcessMemory(proc, remote, &ti, sizeof ti, &io);
    SendMessageTimeoutW(tip, TTM_GETTEXTW, kTextChars, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 3000, &ok);
    std::vector<wchar_t> text(kTextChars + 1, L'\0');
    ReadProcessMemory(proc, remoteText, text.data(), kTextChars * sizeof(wchar_t), &io);
    tools.push_back({tip, GetWindow(tip, GW_OWNER), ti.hwnd, ti.uId, std::wstring(text.data())});
  }
  VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  CloseHandle(proc);
  return tools;
}

std::vector<Tool> AllTools() {
  std::vector<Tool> all;
  for (HWND h : TopLevels()) {
    if (ClassOf(h) != TOOLTIPS_CLASSW) continue;
    for (const Tool& t : ToolsOf(h)) all.push_back(t);
  }
  return all;
}

std::string ToolJson(const Tool& t) {
  return "{\"tooltip\":" + H(t.tooltip) + ",\"owner\":" + H(t.owner) + ",\"hwnd\":" + H(t.hwnd) +
         ",\"id\":" + Num(static_cast<long long>(t.id)) + ",\"pid\":" + Num(PidOf(t.tooltip)) +
         ",\"text\":" + Quote(t.text) + "}";
}

// ---------------------------------------------------------------- tray icons

bool IsTrayIconClass(const std::wstring& c) {
  return c == L"__winex11_tray_icon" || c == L"__wine_tray_icon";
}

std::vector<HWND> TrayIcons() {
  std::vector<HWND> icons;
  for (HWND top : TopLevels()) {
    if (IsTrayIconClass(ClassOf(top))) icons.push_back(top);
    for (HWND c : Children(top))
      if (IsTrayIconClass(ClassOf(c))) icons.push_back(c);
  }
  return icons;
}

bool IsBalloon(HWND tooltip) { return (GetWindowLongW(tooltip, GWL_STYLE) & TTS_BALLOON) != 0; }

// The icon's tooltip, or with balloon the text of the balloon it shows.
std::wstring TipFor(HWND icon, const std::vector<Tool>& tools, bool balloon = false) {
  for (const Tool& t : tools)
    if ((t.hwnd == icon || t.owner == icon) && IsBalloon(t.tooltip) == balloon &&
        (!balloon || IsWindowVisible(t.tooltip)))
      return t.text;
  return std::wstring();
}

std::string TrayJson(const std::vector<HWND>& icons, const std::vector<Tool>& tools) {
  std::vector<std::string> parts;
  for (HWND h : icons) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(h, &r);
    HWND parent = GetAncestor(h, GA_PARENT);
    parts.push_back("{\"hwnd\":" + H(h) + ",\"pid\":" + Num(PidOf(h)) + ",\"class\":" + Quote(ClassOf(h)) +
                    ",\"tray\":" + H(parent == GetDesktopWindow() ? nullptr : parent) +
                    ",\"visible\":" + Bool(IsWindowVisible(h) != FALSE) + ",\"rect\":" + Rect(r) +
                    ",\"tip\":" + Quote(TipFor(h, tools)) + ",\"balloon\":" + Quote(TipFor(h, tools, true)) + "}");
  }
  return Join(parts);
}

// ---------------------------------------------------------------- dialogs

HWND FindDialog(const std::wstring& title) {
  for (HWND h : TopLevels())
    if (IsWindowVisible(h) && ClassOf(h) == L"#32770" && TitleOf(h) == title) return h;
  return nullptr;
}

std::string ButtonKind(LONG style) {
  switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON: return "push";
    case BS_DEFPUSHBUTTON: return "defpush";
    case BS_CHECKBOX: return "checkbox";
    case BS_AUTOCHECKBOX: return "autocheckbox";
    case BS_RADIOBUTTON: return "radio";
    case BS_3STATE: return "3state";
    case BS_AUTO3STATE: return "auto3state";
    case BS_GROUPBOX: return "groupbox";
    case BS_AUTORADIOBUTTON: return "autoradio";
    default: return "other";
  }
}

std::string DialogJson(HWND dlg) {
  RECT wr = {0, 0, 0, 0}, cr = {0, 0, 0, 0};
  GetWindowRect(dlg, &wr);
  GetClientRect(dlg, &cr);
  POINT origin = {0, 0};
  ClientToScreen(dlg, &origin);
  std::vector<std::string> controls;
  for (HWND c : Children(dlg)) {
    if (GetParent(c) != dlg) continue;
    LONG style = GetWindowLongW(c, GWL_STYLE), ex = GetWindowLongW(c, GWL_EXSTYLE);
    RECT r = {0, 0, 0, 0};
    GetWindowRect(c, &r);
    OffsetRect(&r, -origin.x, -origin.y);
    std::wstring cls = ClassOf(c);
    std::string item = "{\"hwnd\":" + H(c) + ",\"id\":" + Num(GetDlgCtrlID(c)) + ",\"class\":" + Quote(cls) +
                       ",\"text\":" + Quote(TextOf(c)) + ",\"visible\":" + Bool((style & WS_VISIBLE) != 0) +
                       ",\"enabled\":" + Bool((style & WS_DISABLED) == 0) +
                       ",\"tabstop\":" + Bool((style & WS_TABSTOP) != 0) +
                       ",\"group\":" + Bool((style & WS_GROUP) != 0) +
                       ",\"style\":" + Num(static_cast<unsigned long>(style)) +
                       ",\"exstyle\":" + Num(static_cast<unsigned long>(ex)) + ",\"rect\":" + Rect(r);
    if (lstrcmpiW(cls.c_str(), L"Button") == 0) {
      DWORD_PTR check = 0;
      SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 3000, &check);
      item += ",\"button\":\"" + ButtonKind(style) + "\",\"checked\":" + Num(static_cast<long long>(check));
    }
    if (lstrcmpiW(cls.c_str(), L"Edit") == 0) {
      item += ",\"readonly\":" + Bool((style & ES_READONLY) != 0) + ",\"password\":" + Bool((style & ES_PASSWORD) != 0) +
              ",\"number\":" + Bool((style & ES_NUMBER) != 0);
    }
    controls.push_back(item + "}");
  }
  HWND focus = nullptr;
  GUITHREADINFO gti;
  ZeroMemory(&gti, sizeof gti);
  gti.cbSize = sizeof gti;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gti)) focus = gti.hwndFocus;
  return "{\"hwnd\":" + H(dlg) + ",\"pid\":" + Num(PidOf(dlg)) + ",\"title\":" + Quote(TitleOf(dlg)) +
         ",\"rect\":" + Rect(wr) + ",\"client\":" + Rect(cr) +
         ",\"style\":" + Num(static_cast<unsigned long>(GetWindowLongW(dlg, GWL_STYLE))) +
         ",\"owner\":" + H(GetWindow(dlg, GW_OWNER)) + ",\"focus\":" + H(focus) +
         ",\"controls\":" + Join(controls) + "}";
}

// ---------------------------------------------------------------- menus

std::vector<HWND> MenuWindows(DWORD pid) {
  std::vector<HWND> out;
  for (HWND h : TopLevels())
    if (IsWindowVisible(h) && ClassOf(h) == L"#32768" && (!pid || PidOf(h) == pid)) out.push_back(h);
  return out;
}

DWORD FramePid() {
  HWND f = Frame();
  return f ? PidOf(f) : 0;
}

std::wstring HereDir() {
  wchar_t buf[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring s(buf);
  size_t slash = s.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : s.substr(0, slash + 1);
}

// Starts fn(arg) as a thread in proc, with arg copied there when given.
bool RemoteCall(HANDLE proc, LPTHREAD_START_ROUTINE fn, const std::wstring* arg, DWORD wait_ms, DWORD* result) {
  void* remoteArg = nullptr;
  SIZE_T bytes = 0;
  if (arg) {
    bytes = (arg->size() + 1) * sizeof(wchar_t);
    remoteArg = VirtualAllocEx(proc, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (!remoteArg || !WriteProcessMemory(proc, remoteArg, arg->c_str(), bytes, nullptr)) return false;
  }
  HANDLE th = CreateRemoteThread(proc, nullptr, 0, fn, remoteArg, 0, nullptr);
  if (!th) return false;
  bool done = WaitForSingleObject(th, wait_ms) == WAIT_OBJECT_0;
  if (done) GetExitCodeThread(th, result);
  CloseHandle(th);
  // Left allocated when the thread did not finish: it may still read it.
  if (remoteArg && done) VirtualFreeEx(proc, remoteArg, 0, MEM_RELEASE);
  return done;
}

// Base address of a module loaded in process pid, found by name in a module
// snapshot. (A remote LoadLibraryW's handle cannot serve: it comes back as
// the thread's exit code, which holds only 32 bits.)
BYTE* RemoteModuleBase(DWORD pid, const wchar_t* name) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) {
      Sleep(50);  // ERROR_BAD_LENGTH while the process loads a module
      continue;
    }
    MODULEENTRY32W me;
    ZeroMemory(&me, sizeof me);
    me.dwSize = sizeof me;
    BYTE* base = nullptr;
    for (BOOL ok = Module32FirstW(snap, &me); ok && !base; ok = Module32NextW(snap, &me))
      if (lstrcmpiW(me.szModule, name) == 0) base = me.modBaseAddr;
    CloseHandle(snap);
    return base;
  }
  return nullptr;
}

int DumpMenus() {
  DWORD pid = FramePid();
  if (!pid) return Fail(1, "no OrlimoMainFrame window");
  if (MenuWindows(pid).empty()) return Fail(1, "no open popup menu");
  std::wstring dll = HereDir() + L"menudump.dll";
  HMODULE local = LoadLibraryW(dll.c_str());
  if (!local) return Fail(3, "cannot load menudump.dll next to the driver");
  FARPROC dump = GetProcAddress(local, "DumpMenu");
  if (!dump) return Fail(3, "menudump.dll exports no DumpMenu");
  DWORD_PTR offset = reinterpret_cast<DWORD_PTR>(dump) - reinterpret_cast<DWORD_PTR>(local);

  HANDLE proc = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                            PROCESS_VM_WRITE | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
  if (!proc) return Fail(3, "cannot open the program's process");
  // kernel32 sits at the same address in every process of the prefix.
  auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW"));
  // Its exit code (the truncated handle) may be 0 for a module loaded at a
  // 4 GiB boundary: only the snapshot tells whether the load worked.
  DWORD truncated = 0;
  BYTE* remoteBase = nullptr;
  if (!RemoteCall(proc, loadLibrary, &dll, 10000, &truncated) ||
      !(remoteBase = RemoteModuleBase(pid, L"menudump.dll"))) {
    CloseHandle(proc);
    return Fail(3, "LoadLibraryW of menudump.dll in the program failed");
  }
  wchar_t tmpDir[MAX_PATH] = {0}, tmpFile[MAX_PATH] = {0};
  GetTempPathW(MAX_PATH, tmpDir);
  GetTempFileNameW(tmpDir, L"mnu", 0, tmpFile);
  std::wstring out(tmpFile);
  DWORD status = 99;
  bool ran = RemoteCall(proc, reinterpret_cast<LPTHREAD_START_ROUTINE>(remoteBase + offset), &out, 15000, &status);
  CloseHandle(proc);
  if (!ran) return Fail(3, "DumpMenu did not finish in the program");

  std::string json;
  HANDLE f = CreateFileW(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) json.append(buf, got);
    CloseHandle(f);
  }
  DeleteFileW(out.c_str());
  while (!json.empty() && (json.back() == '\n' || json.back() == '\r')) json.pop_back();
  if (json.empty()) return Fail(3, "DumpMenu wrote nothing");
  Print(json);
  return status == 0 ? 0 : 1;
}

bool KeyOf(const std::wstring& name, UINT* msg, WPARAM* key) {
  struct { const wchar_t* name; UINT vk; } keys[] = {
      {L"down", VK_DOWN}, {L"up", VK_UP}, {L"left", VK_LEFT}, {L"right", VK_RIGHT},
      {L"return", VK_RETURN}, {L"enter", VK_RETURN}, {L"escape", VK_ESCAPE}, {L"esc", VK_ESCAPE},
      {L"home", VK_HOME}, {L"end", VK_END}, {L"space", VK_SPACE}};
  for (const auto& k : keys) {
    if (lstrcmpiW(name.c_str(), k.name) == 0) {
      *msg = WM_KEYDOWN;
      *key = k.vk;
      return true;
    }
  }
  if (name.size() == 3 && name.compare(0, 2, L"c:") == 0) {
    *msg = WM_CHAR;
    *key = name[2];
    return true;
  }
  return false;
}

void PostKey(HWND menu, UINT msg, WPARAM key) {
  if (msg == WM_KEYDOWN) {
    UINT scan = MapVirtualKeyW(static_cast<UINT>(key), 0);
    PostMessageW(menu, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageW(menu, WM_KEYUP, key, 1 | (scan << 16) | (1u << 30) | (1u << 31));
  } else {
    PostMessageW(menu, msg, key, 1);
  }
}

// ---------------------------------------------------------------- helpers

template <typename F>
bool WaitFor(DWORD ms, F ready) {
  DWORD start = GetTickCount();
  for (;;) {
    if (ready()) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(50);
  }
}

int Usage() {
  Print("{\"error\":\"usage: orlimo-driver SUBCOMMAND [ARGS...]; see driver.cpp\"}");
  return 2;
}

// The window procedure of busy-shell's tray window.
LRESULT CALLBACK RefusingShellProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_COPYDATA) return FALSE;  // Shell_NotifyIcon's request: refused
  return DefWindowProcW(h, m, w, l);
}

const wchar_t kCoverClass[] = L"OrlimoTestCover";

LRESULT CALLBACK CoverProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_DESTROY) PostQuitMessage(0);
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)));
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

// A program started with the linked token of this one's: where this one is
// elevated (Wine gives every process an administrator's full token), the
// limited token of the same user.
int StartLimited(const wchar_t* path, const wchar_t* args) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return Fail(3, "OpenProcessToken failed");
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  const BOOL got = GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size);
  CloseHandle(token);
  if (!got || !linked.LinkedToken) return Fail(3, "no linked token");
  std::wstring folder = path;
  size_t slash = folder.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
  std::wstring line = L"\"" + std::wstring(path) + L"\"";
  if (args) line += L" " + std::wstring(args);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessAsUserW(linked.LinkedToken, nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &si, &pi))
    return Fail(3, "CreateProcessAsUser failed");
  TOKEN_ELEVATION elevation = {};
  GetTokenInformation(linked.LinkedToken, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(linked.LinkedToken);
  Print("{\"pid\":" + Num(pi.dwProcessId) + ",\"elevated\":" + Bool(elevation.TokenIsElevated != 0) + "}");
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}

int PostToFrame(UINT msg, WPARAM w, LPARAM l) {
  HWND f = Frame();
  if (!f) return Fail(1, "no OrlimoMainFrame window");
  if (!PostMessageW(f, msg, w, l)) return Fail(3, "PostMessage failed");
  Print("{\"posted\":true,\"hwnd\":" + H(f) + ",\"msg\":" + Num(msg) + ",\"wparam\":" +
        Num(static_cast<long long>(w)) + ",\"lparam\":" + Num(static_cast<long long>(l)) + "}");
  return 0;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  std::wstring cmd = argv[1];
  auto arg = [&](int i) -> const wchar_t* { return i < argc ? argv[i] : nullptr; };
  long long a = 0, b = 0, c = 0;

  if (cmd == L"frame") {
    std::vector<std::string> parts;
    for (HWND h : Frames()) parts.push_back(WindowJson(h));
    Print(Join(parts));
    return parts.empty() ? 1 : 0;
  }
  if (cmd == L"wait-frame") {
    if (!ParseNum(arg(2), &a)) return Usage();
    bool ok = WaitFor(static_cast<DWORD>(a), [] { return Frame() != nullptr; });
    std::vector<std::string> parts;
    for (HWND h : Frames()) parts.push_back(WindowJson(h));
    Print(Join(parts));
    return ok ? 0 : 1;
  }
  if (cmd == L"windows") {
    bool all = arg(2) && std::wstring(arg(2)) == L"--all";
    std::vector<std::string> parts;
    for (HWND h : TopLevels())
      if (all || IsWindowVisible(h)) parts.push_back(WindowJson(h));
    Print(Join(parts));
    return 0;
  }
  if (cmd == L"tooltips") {
    std::vector<std::string> parts;
    for (const Tool& t : AllTools()) parts.push_back(ToolJson(t));
    Print(Join(parts));
    return 0;
  }
  if (cmd == L"tray-icons") {
    std::vector<HWND> icons = TrayIcons();
    Print(TrayJson(icons, AllTools()));
    return icons.empty() ? 1 : 0;
  }
  if (cmd == L"wait-tray") {
    if (!ParseNum(arg(2), &a)) return Usage();
    const wchar_t* want = arg(3);
    std::vector<HWND> icons;
    std::vector<Tool> tools;
    bool ok = WaitFor(static_cast<DWORD>(a), [&] {
      icons = TrayIcons();
      tools = AllTools();
      for (HWND h : icons)
        if (IsWindowVisible(h) && (!want || TipFor(h, tools) == want)) return true;
      return false;
    });
    Print(TrayJson(icons, tools));
    return ok ? 0 : 1;
  }
  if (cmd == L"wait-no-tray") {
    if (!ParseNum(arg(2), &a)) return Usage();
    std::vector<HWND> icons;
    bool ok = WaitFor(static_cast<DWORD>(a), [&] {
      icons.clear();
      for (HWND h : TrayIcons())
        if (IsWindowVisible(h)) icons.push_back(h);
      return icons.empty();
    });
    Print(TrayJson(icons, AllTools()));
    return ok ? 0 : 1;
  }
  if (cmd == L"post-tray") {
    // Parsed first, then posted together, so they arrive as close together
    // as the shell's own messages would.
    std::vector<long long> mouse;
    for (int i = 2; i < argc; ++i) {
      if (!ParseNum(arg(i), &a)) return Usage();
      mouse.push_back(a);
    }
    if (mouse.empty()) return Usage();
    HWND f = Frame();
    if (!f) return Fail(1, "no OrlimoMainFrame window");
    for (long long m : mouse)
      if (!PostMessageW(f, kTrayCallback, kTrayIconId, static_cast<LPARAM>(m))) return Fail(3, "PostMessage failed");
    Print("{\"posted\":" + Num(static_cast<long long>(mouse.size())) + ",\"hwnd\":" + H(f) + "}");
    return 0;
  }
  if (cmd == L"post-command") {
    if (!ParseNum(arg(2), &a)) return Usage();
    return PostToFrame(WM_COMMAND, static_cast<WPARAM>(a), 0);
  }
  if (cmd == L"post" || cmd == L"send") {
    if (!ParseNum(arg(2), &a) || !ParseNum(arg(3), &b) || !ParseNum(arg(4), &c)) return Usage();
    if (cmd == L"post") return PostToFrame(static_cast<UINT>(a), static_cast<WPARAM>(b), static_cast<LPARAM>(c));
    HWND f = Frame();
    if (!f) return Fail(1, "no OrlimoMainFrame window");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(f, static_cast<UINT>(a), static_cast<WPARAM>(b), static_cast<LPARAM>(c),
                             SMTO_ABORTIFHUNG, 5000, &result))
      return Fail(3, "SendMessageTimeout failed or timed out");
    Print("{\"result\":" + Num(static_cast<long long>(result)) + "}");
    return 0;
  }
  if (cmd == L"wait-dialog" || cmd == L"wait-no-dialog") {
    if (!arg(2) || !ParseNum(arg(3), &a)) return Usage();
    std::wstring title = arg(2);
    bool present = cmd == L"wait-dialog";
    HWND found = nullptr;
    bool ok = WaitFor(static_cast<DWORD>(a), [&] {
      found = FindDialog(title);
      return (found != nullptr) == present;
    });
    Print(found ? WindowJson(found) : std::string("null"));
    return ok ? 0 : 1;
  }
  if (cmd == L"dialog") {
    if (!arg(2)) return Usage();
    HWND d = FindDialog(arg(2));
    if (!d) return Fail(1, "no such dialog");
    Print(DialogJson(d));
    return 0;
  }
  if (cmd == L"set-text" || cmd == L"click") {
    if (!arg(2) || !ParseNum(arg(3), &a) || (cmd == L"set-text" && !arg(4))) return Usage();
    HWND d = FindDialog(arg(2));
    if (!d) return Fail(1, "no such dialog");
    HWND ctl = GetDlgItem(d, static_cast<int>(a));
    if (!ctl) return Fail(1, "no such control");
    if (cmd == L"click") {
      if (!PostMessageW(ctl, BM_CLICK, 0, 0)) return Fail(3, "PostMessage failed");
    } else {
      DWORD_PTR r = 0;
      if (!SendMessageTimeoutW(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(4)), SMTO_ABORTIFHUNG, 5000, &r))
        return Fail(3, "WM_SETTEXT timed out");
    }
    Print("{\"ok\":true,\"hwnd\":" + H(ctl) + "}");
    return 0;
  }
  if (cmd == L"wait-menu") {
    if (!ParseNum(arg(2), &a)) return Usage();
    std::vector<HWND> menus;
    bool ok = WaitFor(static_cast<DWORD>(a), [&] {
      DWORD pid = FramePid();
      menus = pid ? MenuWindows(pid) : std::vector<HWND>();
      return !menus.empty();
    });
    std::vector<std::string> parts;
    for (HWND h : menus) parts.push_back(WindowJson(h));
    Print(Join(parts));
    return ok ? 0 : 1;
  }
  if (cmd == L"menu") return DumpMenus();
  if (cmd == L"menu-key") {
    DWORD pid = FramePid();
    if (!pid) return Fail(1, "no OrlimoMainFrame window");
    int sent = 0;
    for (int i = 2; i < argc; ++i) {
      UINT msg = 0;
      WPARAM key = 0;
      if (!KeyOf(argv[i], &msg, &key)) return Usage();
      std::vector<HWND> menus = MenuWindows(pid);
      if (menus.empty()) return Fail(1, "no open popup menu");
      PostKey(menus.front(), msg, key);
      ++sent;
      // Let the menu loop take the key (and open a submenu) before the next.
      Sleep(150);
    }
    Print("{\"keys\":" + Num(sent) + "}");
    return 0;
  }
  if (cmd == L"menu-close") {
    DWORD pid = FramePid();
    if (!pid) return Fail(1, "no OrlimoMainFrame window");
    for (int i = 0; i < 12; ++i) {
      std::vector<HWND> menus = MenuWindows(pid);
      if (menus.empty()) {
        Print("{\"closed\":true,\"escapes\":" + Num(i) + "}");
        return 0;
      }
      size_t before = menus.size();
      PostKey(menus.front(), WM_KEYDOWN, VK_ESCAPE);
      WaitFor(1000, [&] { return MenuWindows(pid).size() < before; });
    }
    return Fail(1, "menu still open");
  }
  if (cmd == L"reset-ui") {
    DWORD pid = FramePid();
    std::vector<std::string> closed;
    std::vector<HWND> left;
    auto dialogs = [&] {
      std::vector<HWND> out;
      for (HWND h : TopLevels())
        if (PidOf(h) == pid && IsWindowVisible(h) && ClassOf(h) == L"#32770") out.push_back(h);
      return out;
    };
    if (pid) {
      std::vector<HWND> menus = MenuWindows(pid);
      if (!menus.empty()) closed.push_back("{\"class\":\"#32768\",\"title\":\"\",\"count\":" +
                                           Num(static_cast<long long>(menus.size())) + "}");
      for (int i = 0; i < 12 && !menus.empty(); ++i) {
        size_t before = menus.size();
        PostKey(menus.front(), WM_KEYDOWN, VK_ESCAPE);
        WaitFor(1000, [&] { return MenuWindows(pid).size() < before; });
        menus = MenuWindows(pid);
      }
      // A modal chain is closed from its top: the owner under a message box
      // is disabled and would not take the click.
      for (int round = 0; round < 20; ++round) {
        std::vector<HWND> open = dialogs();
        if (open.empty()) break;
        HWND top = nullptr;
        for (HWND h : open)
          if (IsWindowEnabled(h)) { top = h; break; }
        if (!top) top = open.front();
        closed.push_back("{\"class\":\"#32770\",\"title\":" + Quote(TitleOf(top)) + "}");
        HWND button = GetDlgItem(top, IDCANCEL);
        if (!button || !IsWindowEnabled(button)) button = GetDlgItem(top, IDOK);
        if (button && IsWindowEnabled(button)) PostMessageW(button, BM_CLICK, 0, 0);
        else PostMessageW(top, WM_CLOSE, 0, 0);
        WaitFor(3000, [&] { return !IsWindow(top) || !IsWindowVisible(top); });
      }
      left = dialogs();
      for (HWND h : MenuWindows(pid)) left.push_back(h);
    }
    std::vector<std::string> stayed;
    for (HWND h : left) stayed.push_back(WindowJson(h));
    Print("{\"closed\":" + Join(closed) + ",\"left\":" + Join(stayed) + "}");
    return left.empty() ? 0 : 1;
  }
  if (cmd == L"wait-exit") {
    if (!ParseNum(arg(2), &a) || !ParseNum(arg(3), &b)) return Usage();
    HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(a));
    if (!p) {
      Print("{\"ended\":true,\"exit_code\":null}");
      return 0;
    }
    bool ended = WaitForSingleObject(p, static_cast<DWORD>(b)) == WAIT_OBJECT_0;
    DWORD code = 0;
    GetExitCodeProcess(p, &code);
    CloseHandle(p);
    Print("{\"ended\":" + Bool(ended) + ",\"exit_code\":" + (ended ? Num(code) : std::string("null")) + "}");
    return ended ? 0 : 1;
  }
  if (cmd == L"reg-get") {
    if (!arg(2) || !arg(3)) return Usage();
    std::wstring key = arg(2);
    HKEY root = nullptr;
    size_t cut = key.find(L'\\');
    std::wstring rootName = key.substr(0, cut);
    if (lstrcmpiW(rootName.c_str(), L"HKLM") == 0 || lstrcmpiW(rootName.c_str(), L"HKEY_LOCAL_MACHINE") == 0)
      root = HKEY_LOCAL_MACHINE;
    else if (lstrcmpiW(rootName.c_str(), L"HKCU") == 0 || lstrcmpiW(rootName.c_str(), L"HKEY_CURRENT_USER") == 0)
      root = HKEY_CURRENT_USER;
    else
      return Usage();
    std::wstring path = cut == std::wstring::npos ? std::wstring() : key.substr(cut + 1);
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return Fail(1, "no such key");
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExW(h, arg(3), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 2, 0);
    if (r == ERROR_SUCCESS) r = RegQueryValueExW(h, arg(3), nullptr, &type, data.data(), &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS) return Fail(1, "no such value");
    std::string hex;
    for (DWORD i = 0; i < size; ++i) {
      char b[4];
      std::snprintf(b, sizeof b, "%02x", data[i]);
      hex += b;
    }
    std::wstring text;
    if (type == REG_SZ || type == REG_EXPAND_SZ)
      text.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    Print("{\"type\":" + Num(type) + ",\"size\":" + Num(size) + ",\"hex\":\"" + hex + "\",\"text\":" + Quote(text) + "}");
    return 0;
  }
  if (cmd == L"user") {
    wchar_t name[512] = {0};
    DWORD len = 512;
    if (!GetUserNameW(name, &len)) return Fail(3, "GetUserNameW failed");
    Print("{\"user\":" + Quote(name) + "}");
    return 0;
  }
  if (cmd == L"acp") {
    Print("{\"acp\":" + Num(GetACP()) + ",\"oemcp\":" + Num(GetOEMCP()) + "}");
    return 0;
  }
  if (cmd == L"cursor") {
    if (arg(2)) {
      if (!ParseNum(arg(2), &a) || !ParseNum(arg(3), &b)) return Usage();
      // While a menu's loop holds the pointer, Wine moves only its own idea
      // of it, not the X pointer, and the next look (after 100 ms) finds it
      // where it was; a menu lets go a moment after its window is gone. So
      // the move is tried again until the pointer is there, for a while.
      bool moved = WaitFor(3000, [&] {
        SetCursorPos(static_cast<int>(a), static_cast<int>(b));
        Sleep(150);
        POINT now = {0, 0};
        return GetCursorPos(&now) && now.x == a && now.y == b;
      });
      if (!moved) return Fail(1, "the pointer did not move");
    }
    POINT p = {0, 0};
    GetCursorPos(&p);
    Print("{\"x\":" + Num(p.x) + ",\"y\":" + Num(p.y) + "}");
    return 0;
  }
  if (cmd == L"tray-forget") {
    HWND f = Frame();
    if (!f) return Fail(1, "no OrlimoMainFrame window");
    NOTIFYICONDATAW nid;
    ZeroMemory(&nid, sizeof nid);
    nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    nid.hWnd = f;
    nid.uID = kTrayIconId;
    if (!Shell_NotifyIconW(NIM_DELETE, &nid)) return Fail(3, "Shell_NotifyIcon(NIM_DELETE) failed");
    Print("{\"deleted\":true}");
    return 0;
  }
  if (cmd == L"setting-change") {
    // What Windows broadcasts after a Group Policy refresh ("Policy").
    if (!arg(2)) return Usage();
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(arg(2)),
                             SMTO_ABORTIFHUNG, 5000, &r))
      return Fail(3, "broadcast failed");
    Print("{\"broadcast\":true}");
    return 0;
  }
  if (cmd == L"taskbar-created") {
    UINT msg = RegisterWindowMessageW(L"TaskbarCreated");
    if (!msg || !PostMessageW(HWND_BROADCAST, msg, 0, 0)) return Fail(3, "broadcast failed");
    Print("{\"broadcast\":" + Num(msg) + "}");
    return 0;
  }
  if (cmd == L"busy-shell") {
    if (!ParseNum(arg(2), &a)) return Usage();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = RefusingShellProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Shell_TrayWnd";
    if (!RegisterClassW(&wc)) return Fail(3, "RegisterClass failed");
    HWND shell = CreateWindowExW(WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                 nullptr, wc.hInstance, nullptr);
    if (!shell) return Fail(3, "CreateWindow failed");
    SetWindowPos(shell, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(a)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DestroyWindow(shell);
    Print("{\"gone\":true}");
    return 0;
  }
  if (cmd == L"cover-screen") {
    if (!ParseNum(arg(2), &a)) return Usage();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CoverProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kCoverClass;
    if (!RegisterClassW(&wc)) return Fail(3, "RegisterClass failed");
    HWND cover = CreateWindowExW(WS_EX_TOPMOST, kCoverClass, L"cover", WS_POPUP | WS_VISIBLE, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                 wc.hInstance, nullptr);
    if (!cover) return Fail(3, "CreateWindow failed");
    SetForegroundWindow(cover);
    SetTimer(cover, 1, static_cast<UINT>(a), nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_TIMER && msg.hwnd == cover) DestroyWindow(cover);
      else DispatchMessageW(&msg);
    }
    Print("{\"gone\":true}");
    return 0;
  }
  if (cmd == L"close-cover") {
    HWND cover = FindWindowW(kCoverClass, nullptr);
    if (!cover) return Fail(1, "no cover window");
    PostMessageW(cover, WM_CLOSE, 0, 0);
    Print("{\"closed\":" + H(cover) + "}");
    return 0;
  }
  if (cmd == L"foreground") {
    HWND f = GetForegroundWindow();
    Print(f ? WindowJson(f) : std::string("null"));
    return 0;
  }
  if (cmd == L"start-limited") {
    if (!arg(2)) return Usage();
    return StartLimited(arg(2), arg(3));
  }
  if (cmd == L"shell-open") {
    if (!arg(2)) return Usage();
    auto r = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", arg(2), nullptr, nullptr, SW_SHOWNORMAL));
    Print("{\"result\":" + Num(static_cast<long long>(r)) + "}");
    return r > 32 ? 0 : 3;
  }
  return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // No error boxes from a failed call under the test runner.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // Said before anything is done: a caller that sees neither this line nor
  // a JSON answer knows the driver never ran, so running it again is safe.
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (err && err != INVALID_HANDLE_VALUE) WriteFile(err, kStartedLine, sizeof kStartedLine - 1, &written, nullptr);
  return Run(argc, argv);
}
