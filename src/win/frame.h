// The hidden main window: owns the tray icon, the two timers of the
// notification poller and the tray menu.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "core/activation.h"
#include "core/poller.h"
#include "core/settings.h"
#include "win/fetch.h"

namespace orlimo {

class COrlimoApp;

constexpr UINT kTrayCallbackMessage = WM_USER + 1;
constexpr UINT kTrayIconId = 128;
// Posted by the fetch worker when it is done; wParam is the fetch's number.
constexpr UINT kFetchDoneMessage = WM_APP + 1;
// Posted when the computer's network addresses have changed.
constexpr UINT kNetworkChangedMessage = WM_APP + 2;
// The frame's own timer for the fetch deadline (any other id than the
// poller's two still reaches the poller, which reports it).
constexpr UINT_PTR kFetchDeadlineTimerId = 0x4F52;
// The frame's timer that adds the tray icon again while the shell refuses it.
constexpr UINT_PTR kTrayRetryTimerId = 0x4F53;
constexpr UINT kTrayRetryMs = 3000;
inline const wchar_t kFrameClassName[] = L"OrlimoMainFrame";

class CMainFrame : public PollerHost {
public:
    explicit CMainFrame(COrlimoApp& app);
    ~CMainFrame() override;

    // Creates the (hidden) window; false when it could not be created.
    bool Create();
    HWND GetSafeHwnd() const { return hwnd_; }

    int SetTrayIcon(int icon_id, const std::wstring& tip);
    Poller& GetPoller() { return poller_; }

    // PollerHost
    bool StartFetch(const std::string& url) override;
    void SetTrayIcon(int icon_id, TrayTip tip) override;
    void StartBlinkTimer() override;
    void StopBlinkTimer() override;
    void ShowNewMessagePrompt() override;
    void ShowUpdatePrompt() override;
    void ShowOtherTimerMessage() override;
    bool UserCanBeDisturbed() override;

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
    int OnCreate();
    void OnDestroy();
    void OnTimer(UINT_PTR id);
    void OnFetchDone(unsigned number);
    void AddTrayIcon();
    void RetryTrayIcon();
    void ArmTrayRetry();
    void ShowRunningBalloon();
    bool OnSessionMessage(UINT msg, WPARAM wp);
    bool NotifyWithIcon(DWORD message, int icon_id);
    void PopupTrayMenu();
    void UpdateMenuItems(HMENU menu, bool recurse);

    COrlimoApp& app_;
    HWND hwnd_ = nullptr;
    NOTIFYICONDATAW m_nid = {};
    Poller poller_;
    CUrlTextFetcher fetcher_;
    UINT taskbar_created_ = 0;
    int last_icon_ = kIconNormal;
    bool tray_retry_armed_ = false;
    // The messages of a later start of orlimo (win/instance.h).
    UINT show_running_ = 0, autorun_changed_ = 0;
    ActivationGate activation_;
};

}  // namespace orlimo
