#include "linux/frame.h"

#include <QAction>
#include <QGuiApplication>
#include <QStyleHints>

#include "core/portal.h"
#include "linux/app.h"
#include "linux/dialogs.h"
#include "linux/texts.h"
#include "linux/tray_host.h"

namespace orlimo {
namespace {

int TipString(TrayTip tip) {
    switch (tip) {
        case TrayTip::NetFault: return IDS_TIP_NETFAULT;
        case TrayTip::NewMessage: return IDS_TIP_NEWMESSAGE;
        case TrayTip::Normal: break;
    }
    return IDS_TIP_NORMAL;
}

}  // namespace

QIcon TrayPicture(int icon_id) {
    const QString name = icon_id == kIconWhite ? QStringLiteral(":/icons/orlimo-white-%1.png")
                                               : QStringLiteral(":/icons/orlimo-%1.png");
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addFile(name.arg(size), QSize(size, size));
    return icon;
}

CMainFrame::CMainFrame(COrlimoApp& app)
    : app_(app), poller_(*this, app.settings), icon_normal_(TrayPicture(kIconNormal)),
      icon_white_(TrayPicture(kIconWhite)) {
    poll_timer_.setInterval(1000);
    blink_timer_.setInterval(1000);
    connect(&poll_timer_, &QTimer::timeout, this, [this] { poller_.OnTimer(kPollTimerId); });
    connect(&blink_timer_, &QTimer::timeout, this, [this] { poller_.OnTimer(kBlinkTimerId); });
}

CMainFrame::~CMainFrame() { Destroy(); }

void CMainFrame::Create() {
    BuildMenu();
    UpdateMenuItems();
    poll_timer_.start();
    clock_.start();
    // Over D-Bus, the item is there from the start for any watcher, now or
    // later, and the hosts that come to it; an XEmbed icon is added while
    // an XEmbed tray is there and no host is. Started with the session, the
    // program may come before the panel, and the panel may change under it:
    // the icon follows. Polls and prompts go on meanwhile.
    CStatusItem::Handlers handlers;
    handlers.activate = [this] { OnActivation(); };
    handlers.secondary_activate = [this] { app_.OnCmdMsg(ID_APP_ABOUT); };
    handlers.context_menu = [this](QPoint at) { menu_->popup(at); };
    item_ = std::make_unique<CStatusItem>(menu_.get(), [this] { UpdateMenuItems(); }, handlers);
    item_->SetIcon(CurrentIcon());
    item_->SetToolTip(Text(TipString(tip_)));
    if (!item_->Show()) item_.reset();
    tray_watch_ = std::make_unique<CTrayWatch>();
    connect(tray_watch_.get(), &CTrayWatch::Changed, this, [this] { ShowTray(); });
    connect(tray_watch_.get(), &CTrayWatch::WatcherCame, this, [this] {
        if (item_) item_->RegisterWithWatcher();
    });
    // Prompts wait while the user presents; a poll soon after a wake, and
    // after the network comes back to a failed state.
    attention_ = std::make_unique<CAttention>();
    connect(attention_.get(), &CAttention::Woke, this, [this] { poller_.OnWake(); });
    connect(attention_.get(), &CAttention::NetworkChanged, this, [this] { poller_.OnNetworkChanged(); });
}

bool CMainFrame::UserCanBeDisturbed() { return !attention_ || attention_->UserCanBeDisturbed(); }

void CMainFrame::ShowTray() {
    if (!tray_watch_) return;
    if (tray_watch_->HostRegistered()) {
        // One icon: the host shows the item.
        tray_.reset();
        return;
    }
    if (!tray_watch_->XEmbedReady() || tray_) return;
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setIcon(CurrentIcon());
    tray_->setToolTip(Text(TipString(tip_)));
    tray_->setContextMenu(menu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { OnActivated(reason); });
    tray_->show();
}

void CMainFrame::Destroy() {
    tray_watch_.reset();
    attention_.reset();
    poller_.Stop();
    fetcher_.Cancel();
    poll_timer_.stop();
    blink_timer_.stop();
    if (tray_) tray_->hide();
    item_.reset();
    // An open prompt refers to the poller.
    delete prompt_;
}

void CMainFrame::BuildMenu() {
    menu_ = std::make_unique<QMenu>();
    menus_ = {menu_.get()};
    std::vector<QMenu*> stack = {menu_.get()};
    for (const rc::MenuEntry& e : rc::kTrayMenu) {
        stack.resize(static_cast<size_t>(e.depth) + 1);
        QMenu* menu = stack.back();
        const QString text = QString::fromUtf8(e.text);
        switch (e.kind) {
            case rc::MenuKind::Popup: {
                QMenu* sub = menu->addMenu(text);
                menus_.push_back(sub);
                stack.push_back(sub);
                break;
            }
            case rc::MenuKind::Separator:
                menu->addSeparator();
                break;
            case rc::MenuKind::Item: {
                QAction* action = menu->addAction(text);
                if (e.flags & rc::kChecked) {
                    action->setCheckable(true);
                    action->setChecked(true);
                }
                action->setEnabled(!(e.flags & rc::kInactive));
                command_ids_[action] = e.id;
                resource_texts_[action] = text;
                // Queued: a command may run a modal dialog, and the menu's
                // own event (a click, or a D-Bus call from the tray host)
                // should be answered first. A disabled item does nothing
                // even when a host sends it a click (Qt 5 triggers it then).
                const int id = e.id;
                connect(action, &QAction::triggered, this, [this, id, action] {
                    if (!action->isEnabled()) return;
                    QMetaObject::invokeMethod(this, [this, id] { app_.OnCmdMsg(id); }, Qt::QueuedConnection);
                });
                break;
            }
        }
    }
    for (QMenu* menu : menus_) {
        // A separator that ends a popup shows, as in the resource.
        menu->setSeparatorsCollapsible(false);
        connect(menu, &QMenu::aboutToShow, this, [this] { UpdateMenuItems(); });
    }
}

void CMainFrame::UpdateMenuItems() {
    for (const auto& [action, id] : command_ids_) {
        // Each display starts from the resource's caption; an item is enabled
        // exactly when its command has a handler, unless its update says more.
        CCmdUI ui(id, resource_texts_[action], app_.HasCommandHandler(id), action->isChecked(),
                  app_.settings_encoding);
        app_.OnUpdateCmdUI(ui);
        if (action->text() != ui.text) action->setText(ui.text);
        if (action->isEnabled() != ui.enabled) action->setEnabled(ui.enabled);
        if (action->isCheckable() && action->isChecked() != ui.checked) action->setChecked(ui.checked);
        // A favorite that would open nothing is not shown: one left without
        // a caption would be drawn by a tray host as a blank row, and one
        // without an address it opens (favorite 2 without a bookmark, an
        // address of another scheme) would be a row that does nothing.
        bool shown = !ui.text.isEmpty();
        if (const int n = FavoriteNumber(id)) {
            const std::optional<std::string> target = FavoriteTarget(n, app_.bookmark_entries);
            shown = shown && target && LaunchableAddress(*target);
        }
        if (action->isVisible() != shown) action->setVisible(shown);
    }
    // Nor is a separator that would follow another (or open a menu) once
    // such items are gone; the one that ends a popup stays, as in the
    // resource.
    for (QMenu* menu : menus_) {
        bool after_separator = true;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) {
                if (action->isVisible() == after_separator) action->setVisible(!after_separator);
                after_separator = true;
            } else if (action->isVisible()) {
                after_separator = false;
            }
        }
    }
}

void CMainFrame::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            // A left click on the XEmbed icon; a double click begins with one.
            OnActivation();
            break;
        case QSystemTrayIcon::MiddleClick:
            QMetaObject::invokeMethod(this, [this] { app_.OnCmdMsg(ID_APP_ABOUT); },
                                      Qt::QueuedConnection);
            break;
        case QSystemTrayIcon::DoubleClick:  // its first press was a Trigger
        case QSystemTrayIcon::Context:      // Qt shows the menu
        case QSystemTrayIcon::Unknown:
            break;
    }
}

void CMainFrame::OnActivation() {
    // A host that reports each click (KDE Plasma, UKUI) sends two for a
    // double click, GNOME's one: the second within the double-click
    // interval opens nothing more.
    if (!activations_.Take(clock_.elapsed(), QGuiApplication::styleHints()->mouseDoubleClickInterval())) return;
    QMetaObject::invokeMethod(this, [this] { app_.OnLoginPage(); }, Qt::QueuedConnection);
}

bool CMainFrame::StartFetch(const std::string& url) {
    return fetcher_.FetchUrlText(app_.AddressUrl(url), [this](const CUrlTextFetcher::Result& result) {
        poller_.OnFetchResult(result);
    });
}

void CMainFrame::SetTrayIcon(int icon_id, TrayTip tip) {
    const bool new_icon = icon_id != icon_id_;
    icon_id_ = icon_id;
    tip_ = tip;
    // Shown with these once a tray is there.
    if (tray_) {
        tray_->setIcon(CurrentIcon());
        tray_->setToolTip(Text(TipString(tip)));
    }
    if (item_) {
        if (new_icon) item_->SetIcon(CurrentIcon());
        item_->SetToolTip(Text(TipString(tip)));
    }
}

void CMainFrame::StartBlinkTimer() { blink_timer_.start(); }

void CMainFrame::StopBlinkTimer() { blink_timer_.stop(); }

void CMainFrame::ShowNewMessagePrompt() {
    // One prompt at most: the poller counts it open until it has finished.
    prompt_ = new CNewMessageDlg(app_, poller_);
    connect(prompt_, &QDialog::finished, this, [this] { poller_.OnMessagePromptClosed(); });
    OpenDialog(prompt_, true);
}

void CMainFrame::ShowUpdatePrompt() { app_.ShowUpdatePrompt(); }

void CMainFrame::ShowOtherTimerMessage() { AppMessageBox(nullptr, Text(IDS_OTHER_TIMER)); }

}  // namespace orlimo
