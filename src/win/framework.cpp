#include "win/framework.h"

#include <cstring>
#include <vector>

#include "resource.h"

namespace orlimo {

namespace {
HINSTANCE g_instance = nullptr;
HWND g_main_window = nullptr;
UINT g_settings_code_page = CP_ACP;
}  // namespace

HINSTANCE AppInstance() { return g_instance ? g_instance : GetModuleHandleW(nullptr); }
void SetAppInstance(HINSTANCE instance) { g_instance = instance; }
HWND AppMainWindow() { return g_main_window; }
void SetAppMainWindow(HWND hwnd) { g_main_window = hwnd; }

std::wstring LoadStr(UINT id) {
    const wchar_t* text = nullptr;
    // With a zero buffer size LoadStringW hands out a pointer to the
    // resource itself; the length is returned.
    int len = LoadStringW(AppInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (len <= 0 || !text) return std::wstring();
    return std::wstring(text, static_cast<size_t>(len));
}

static std::wstring ToWide(UINT code_page, const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::wstring AnsiToWide(const std::string& text) { return ToWide(CP_ACP, text); }
std::wstring Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, text); }
void SetSettingsCodePage(UINT code_page) { g_settings_code_page = code_page; }
std::wstring SettingsTextToWide(const std::string& text) { return ToWide(g_settings_code_page, text); }

static std::string FromWide(UINT code_page, const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

std::string WideToAnsi(const std::wstring& text) { return FromWide(CP_ACP, text); }
std::string WideToUtf8(const std::wstring& text) { return FromWide(CP_UTF8, text); }

int AppMessageBox(const std::wstring& text, UINT type) {
    std::wstring title = LoadStr(IDS_APP_TITLE);
    // Owned by the window the user is working in: the dialog that raises the
    // box (the main window's last active popup) is disabled while the box is
    // up and cannot cover it. The main window itself is never visible.
    HWND owner = AppMainWindow();
    if (owner) owner = GetLastActivePopup(owner);
    return MessageBoxW(owner, text.c_str(), title.c_str(), type | MB_SETFOREGROUND);
}

int AppMessageBox(UINT string_id, UINT type) { return AppMessageBox(LoadStr(string_id), type); }

INT_PTR CDialog::DoModal() {
    return DialogBoxParamW(AppInstance(), MAKEINTRESOURCEW(template_id_), AppMainWindow(),
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) {
    if (hwnd_) ::EndDialog(hwnd_, result);
}

namespace {
// True when the dialog template places the dialog at (0, 0): such dialogs
// are shown centred, the others where the template says.
bool TemplateAtOrigin(UINT template_id) {
    HRSRC res = FindResourceW(AppInstance(), MAKEINTRESOURCEW(template_id), RT_DIALOG);
    const BYTE* data = res ? static_cast<const BYTE*>(LockResource(LoadResource(AppInstance(), res)))
                           : nullptr;
    if (!data || SizeofResource(AppInstance(), res) < 22) return false;
    WORD signature;
    memcpy(&signature, data + 2, 2);
    size_t at = signature == 0xFFFF ? 18 : 10;  // DLGTEMPLATEEX or DLGTEMPLATE
    short x, y;
    memcpy(&x, data + at, 2);
    memcpy(&y, data + at + 2, 2);
    return x == 0 && y == 0;
}

void CenterInWorkArea(HWND hwnd) {
    RECT area, rc;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return;
    GetWindowRect(hwnd, &rc);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    SetWindowPos(hwnd, nullptr, area.left + (area.right - area.left - w) / 2,
                 area.top + (area.bottom - area.top - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
}  // namespace

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    CDialog* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lp);
        SetWindowLongPtrW(hwnd, DWLP_USER, lp);
        self->hwnd_ = hwnd;
        // The owner, the main window, is never visible: centre in the screen.
        if (TemplateAtOrigin(self->template_id_)) CenterInWorkArea(hwnd);
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    switch (msg) {
    case WM_COMMAND: {
        WORD id = LOWORD(wp), code = HIWORD(wp);
        if (id == IDOK && (code == BN_CLICKED || lp == 0)) {
            self->OnOK();
            return TRUE;
        }
        if (id == IDCANCEL) {
            self->OnCancel();
            return TRUE;
        }
        return self->OnCommand(id, code) ? TRUE : FALSE;
    }
    case WM_TIMER:
        self->OnTimer(wp);
        return TRUE;
    case WM_NCDESTROY:
        self->hwnd_ = nullptr;
        return FALSE;
    }
    return FALSE;
}

void CCmdUI::Enable(bool on) {
    enable_changed_ = true;
    EnableMenuItem(menu_, index_, MF_BYPOSITION | (on ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
}

void CCmdUI::SetCheck(bool on) {
    CheckMenuItem(menu_, index_, MF_BYPOSITION | (on ? MF_CHECKED : MF_UNCHECKED));
}

void CCmdUI::SetText(const std::string& text) {
    std::wstring wide = SettingsTextToWide(text);
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<wchar_t*>(wide.c_str());
    info.cch = static_cast<UINT>(wide.size());
    SetMenuItemInfoW(menu_, index_, TRUE, &info);
}

}  // namespace orlimo
