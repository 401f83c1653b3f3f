#include "win/dialogs.h"

#include <windows.h>

#include <vector>

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
        server = WideToAnsi(GetItemText(hwnd_, IDC_SERVER));
    } else {
        SetDlgItemTextW(hwnd_, IDC_SERVER, AnsiToWide(server).c_str());
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
    SetFocus(GetDlgItem(hwnd_, IDOK));
    return FALSE;  // focus set: the first tab stop, "保存"
}

void CConfigDlg::OnOK() {
    // Nothing is taken over unless every field is valid.
    const std::string old_server = server;
    if (!DoDataExchange(true)) {
        server = old_server;
        return;
    }
    Settings& s = app_.settings;
    s.interval_time = interval_time;
    s.user_id = user_id;
    s.server = server;
    s.server_port = server_port;
    // Written back as the file was read (ANSI, or UTF-8 with its mark).
    const std::string saved = SaveSettings(path, server, user_id, interval_time, server_port, s.bookmark,
                                           UserSettingsFolder(), app_.settings_form);
    if (!saved.empty()) path = saved;
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
