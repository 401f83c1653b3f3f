// The small windowing layer the program needs: resource texts, message
// boxes, modal dialogs and menu command-UI objects, on the plain Win32 API.
#pragma once
#include <windows.h>

#include <string>

#include "core/commands.h"

namespace orlimo {

HINSTANCE AppInstance();
void SetAppInstance(HINSTANCE instance);

// The application's main window: owner of dialogs and of the tray menu.
HWND AppMainWindow();
void SetAppMainWindow(HWND hwnd);

std::wstring LoadStr(UINT id);
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// Settings-file text in force is in one code page, CP_ACP or CP_UTF8 (see
// the core's FileEncoding): where it is shown (favorite captions, the
// server field) and handed to the system (addresses, shortcuts), it is
// converted with that one.
void SetSettingsCodePage(UINT code_page);
std::wstring SettingsTextToWide(const std::string& text);

// A modal message box with the application's title ("orlimo").
int AppMessageBox(const std::wstring& text, UINT type = MB_OK);
int AppMessageBox(UINT string_id, UINT type = MB_OK);

// Base of the modal dialogs: runs a template from the resources with the
// application's main window as owner.
class CDialog {
public:
    explicit CDialog(UINT template_id) : template_id_(template_id) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return hwnd_; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnTimer(UINT_PTR id) {}
    // Other commands; return true when handled.
    virtual bool OnCommand(WORD id, WORD code) { return false; }
    void EndDialog(INT_PTR result);

    HWND hwnd_ = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    UINT template_id_;
};

// One menu item during the command-UI update of a popup that is about to
// be shown.
class CCmdUI : public CmdUI {
public:
    CCmdUI(HMENU menu, UINT index, UINT id) : menu_(menu), index_(index), id_(id) {}
    int Id() const override { return static_cast<int>(id_); }
    void Enable(bool on) override;
    void SetCheck(bool on) override;
    // Settings-file text (SettingsTextToWide).
    void SetText(const std::string& text) override;
    bool EnableChanged() const { return enable_changed_; }

private:
    bool enable_changed_ = false;
    HMENU menu_;
    UINT index_;
    UINT id_;
};

}  // namespace orlimo
