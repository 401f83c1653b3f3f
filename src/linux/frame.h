// The tray side of the program: the tray icon with its menu, the poller's
// two timers and its host. There is no window: on Windows a hidden frame
// window carries these, here this object does.
#pragma once
#include <QIcon>
#include <QMenu>
#include <QDialog>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

#include "core/activation.h"
#include "core/poller.h"
#include "linux/attention.h"
#include "linux/fetch.h"
#include "linux/status_item.h"
#include "linux/tray_host.h"

class QAction;

namespace orlimo {

class COrlimoApp;

// The tray picture of an icon id (kIconNormal or kIconWhite), at every size
// the program carries.
QIcon TrayPicture(int icon_id);

class CMainFrame : public QObject, public PollerHost {
public:
    explicit CMainFrame(COrlimoApp& app);
    ~CMainFrame() override;

    // Starts the poll timer and shows the tray icon ("短消息通知", the
    // normal picture) as soon as the desktop has a tray for it: a
    // StatusNotifierItem host, else an XEmbed tray; the icon moves when
    // that changes.
    void Create();
    // Exit: no query is started or acted on any more, the timers stop, the
    // icon goes.
    void Destroy();

    Poller& GetPoller() { return poller_; }
    // The command-UI update: every item's caption, enabled state and check
    // mark as they are to show now.
    void UpdateMenuItems();

private:
    // PollerHost, called only by the poller: the icon, the query, the prompts.
    void SetTrayIcon(int icon_id, TrayTip tip) override;
    void StartBlinkTimer() override;
    void StopBlinkTimer() override;
    bool StartFetch(const std::string& url) override;
    void ShowNewMessagePrompt() override;
    void ShowUpdatePrompt() override;
    void ShowOtherTimerMessage() override;
    bool UserCanBeDisturbed() override;

    // Shows the icon in the tray that the desktop has now.
    void ShowTray();
    void BuildMenu();
    void OnActivated(QSystemTrayIcon::ActivationReason reason);
    // The icon was activated (a click, or a double click's first): the
    // login page, once for a double click on every host.
    void OnActivation();
    QIcon CurrentIcon() const { return icon_id_ == kIconWhite ? icon_white_ : icon_normal_; }

    COrlimoApp& app_;
    Poller poller_;
    CUrlTextFetcher fetcher_;
    QTimer poll_timer_;
    QTimer blink_timer_;
    QIcon icon_normal_;
    QIcon icon_white_;
    // The icon over D-Bus (ours), and in an XEmbed tray while no tray host
    // is registered (Qt's, made only then: Qt chooses XEmbed for good).
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<CStatusItem> item_;
    std::unique_ptr<CTrayWatch> tray_watch_;
    std::unique_ptr<CAttention> attention_;
    ActivationGate activations_;
    QElapsedTimer clock_;
    int icon_id_ = kIconNormal;
    TrayTip tip_ = TrayTip::Normal;
    std::unique_ptr<QMenu> menu_;
    std::vector<QMenu*> menus_;               // the root and its submenus
    std::map<QAction*, int> command_ids_;     // items with a command
    std::map<QAction*, QString> resource_texts_;
    QPointer<QDialog> prompt_;  // the new-message prompt while it is open
};

}  // namespace orlimo
