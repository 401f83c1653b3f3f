#include "win/dialogs.h"

#include <windows.h>

#include <vector>

#include "core/limits.h"
#include "core/poller.h"
#include "core/portal.h"
#include "resource.h"
#include "win/app.h"
#include "win/launch.h"
#include "win/settings_io.h"

namespace orlimo {

CNewMessageDlg::CNewMessageDlg(COrlimoApp& app, Poller& poller)
    : CDialog(IDD_NEWMESSAGE), app_(app), poller_(poller) {}

BOOL CNewMessageDlg::OnInitDialog() {
    SetTimer(hwnd_, kCloseTimerId, kNewMessageTimeoutMs, nullptr);
    return TRUE;
}

void CNewMessageDlg::OnOK() {
    poller_.ClearMessagePending();
    LaunchAddress(PortalPageUrl(app_.settings, kMessageBoxPage));
    KillTimer(hwnd_, kCloseTimerId);
    EndDialog(IDOK);
}

void CNewMessageDlg::OnCancel() {
    KillTimer(hwnd_, kCloseTimerId);
    EndDialog(IDCANCEL);
}

void CNewMessageDlg::OnTimer(UINT_PTR) {
    KillTimer(hwnd_, kCloseTimerId);
    OnCancel();
}

CUpdateDlg::CUpdateDlg(COrlimoApp& app) : CDialog(IDD_UPDATE), app_(app) {}

void CUpdateDlg::OnOK() {
    LaunchAddress(PersonalDataUrl(app_.settings));
    EndDialog(IDOK);
}

// ---- settings dialog ----

namespace {
std::wstring GetItemText(HWND dlg, int id) {
    HWND item = GetDlgItem(dlg, id);
    int len = item ? GetWindowTextLengthW(item) : 0;
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    if (item) GetWindowTextW(item, &text[0], len + 1);
    text.resize(wcslen(text.c_str()));
    return text;
}

bool ExchangeInt(HWND dlg, int id, int32_t* value, bool save) {
    if (!save) {
        SetDlgItemTextW(dlg, id, std::to_wstring(*value).c_str());
        return true;
    }
    // Digits and blanks only matter here; the text is plain ASCII when valid.
    std::wstring wide = GetItemText(dlg, id);
    std::string text;
    for (wchar_t c : wide) text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    if (ParseDialogInteger(text, value)) return true;
    AppMessageBox(IDS_ENTER_INTEGER, MB_OK | MB_ICONEXCLAMATION);
    HWND item = GetDlgItem(dlg, id);
    SetFocus(item);
    SendMessageW(item, EM_SETSEL, 0, -1);
    return false;
}
}  // namespace

CConfigDlg::CConfigDlg(COrlimoApp& app) : CDialog(IDD_CONFIG), app_(app) {}

bool CConfigDlg::DoDataExchange(bool save) {
    if (save) {
        // An unchanged server keeps its bytes, whatever they convert to.
        const std::wstring text = GetItemText(hwnd_, IDC_SERVER);
        if (text != SettingsTextToWide(server)) edited_server_ = WideToUtf8(text);
    } else {
        SetDlgItemTextW(hwnd_, IDC_SERVER, SettingsTextToWide(server).c_str());
    }
    int32_t port = server_port, interval = interval_time, user = user_id;
    if (!ExchangeInt(hwnd_, IDC_PORT, &port, save)) return false;
    if (!ExchangeInt(hwnd_, IDC_INTERVAL, &interval, save)) return false;
    if (!ExchangeInt(hwnd_, IDC_USERID, &user, save)) return false;
    server_port = port;
    interval_time = interval;
    user_id = user;
    return true;
}

BOOL CConfigDlg::OnInitDialog() {
    path = ResolveSettingsPath();
    server = app_.settings.server;
    server_port = app_.settings.server_port;
    user_id = app_.settings.user_id;
    interval_time = app_.settings.interval_time;
    DoDataExchange(false);
    // What a policy sets shows, and cannot be edited here.
    locked_ = app_.locked;
    const struct {
        int id;
        unsigned bit;
    } fields[] = {{IDC_SERVER, kServerBit}, {IDC_PORT, kPortBit}, {IDC_INTERVAL, kIntervalBit}, {IDC_USERID, kUserIdBit}};
    for (const auto& f : fields)
        if (locked_ & f.bit) SendDlgItemMessageW(hwnd_, f.id, EM_SETREADONLY, TRUE, 0);
    if (locked_ & (kServerBit | kPortBit | kIntervalBit | kUserIdBit))
        ShowWindow(GetDlgItem(hwnd_, IDC_POLICY_NOTE), SW_SHOWNA);
    SetFocus(GetDlgItem(hwnd_, IDOK));
    return FALSE;  // focus set: the first tab stop, "保存"
}

void CConfigDlg::OnOK() {
    // Nothing is taken over unless every field is valid.
    edited_server_.reset();
    if (!DoDataExchange(true)) return;
    DialogValues dialog;
    dialog.server = edited_server_;
    dialog.user_id = user_id;
    dialog.interval_time = interval_time;
    dialog.server_port = server_port;
    // The values the user sets are in force at once, and are written as
    // their file was read (a policy's values stay in force, and their own
    // under them in the file).
    const std::string saved = app_.SaveOwnSettings(path, dialog, locked_);
    if (!saved.empty()) path = saved;
    server = app_.settings.server;
    EndDialog(IDOK);
}

// ---- about box ----

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

bool CAboutDlg::OnCommand(WORD id, WORD code) {
    if (id == IDC_SHOWUSER && code == BN_CLICKED) {
        OnShowUserName();
        return true;
    }
    return false;
}

void CAboutDlg::OnShowUserName() {
    wchar_t name[1024] = {};
    DWORD size = 1024;
    if (GetUserNameW(name, &size)) {
        AppMessageBox(name, MB_OK);
    } else {
        AppMessageBox(IDS_NO_USER_NAME, MB_OK);
    }
}

}  // namespace orlimo
