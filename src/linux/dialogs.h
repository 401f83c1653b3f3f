// The four dialogs and the message box, with the texts of the resource
// script's templates.
#pragma once
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include <string>

#include "core/settings.h"

class QLineEdit;
class QPushButton;

namespace orlimo {

class COrlimoApp;
class Poller;

// The dialogs are made with new and delete themselves once they have
// finished. Window-modal without an owner, they lock no other window: the
// tray icon and its menu stay usable beside them, as beside a dialog on
// Windows (application-modal, they would lock an XEmbed tray icon).

// Shows a dialog in front and returns at once; its finished signal says
// when it is done. A notice (a prompt that a poll raises, while the user
// may be typing elsewhere) stays above other windows and is shown without
// taking the keyboard: a window manager that refuses focus to a background
// program (mutter) shows it then, and the user's next key does not press
// its default button.
void OpenDialog(QDialog* dlg, bool notice = false);

// A modal message box titled "orlimo" with an OK button, owned by owner
// (which it disables while it is open); nullptr for none. The caller waits
// until it is acknowledged.
void AppMessageBox(QWidget* owner, const QString& text,
                   QMessageBox::Icon icon = QMessageBox::NoIcon);

// "消息通知": new messages; closes itself as "下次再说" after 15 seconds.
class CNewMessageDlg : public QDialog {
public:
    static constexpr int kNewMessageTimeoutMs = 15000;
    CNewMessageDlg(COrlimoApp& app, Poller& poller);
    void accept() override;  // "查看"

private:
    COrlimoApp& app_;
    Poller& poller_;
    QTimer close_timer_;
};

// "通知器更新": a newer notifier; "更新下载" opens the personal-data page.
class CUpdateDlg : public QDialog {
public:
    explicit CUpdateDlg(COrlimoApp& app);
    void accept() override;  // "更新下载"

private:
    COrlimoApp& app_;
};

// "参数配置": the four connection settings; "保存" puts them into force and
// writes the settings file.
class CConfigDlg : public QDialog {
public:
    explicit CConfigDlg(COrlimoApp& app);
    void accept() override;  // "保存"

    QString path;            // the settings file that Save writes
    std::string server;      // as bytes of the settings file's encoding
    int32_t server_port = 0;
    int32_t interval_time = 0;
    int32_t user_id = 0;

private:
    bool ExchangeInt(QLineEdit* edit, int32_t* value);

    COrlimoApp& app_;
    QLineEdit* server_edit_;
    QLineEdit* port_edit_;
    QLineEdit* interval_edit_;
    QLineEdit* user_edit_;
    unsigned locked_ = 0;  // what the policy set when it opened
};

// "关于 orlimo": name and version; "Button1" shows the user's login name.
class CAboutDlg : public QDialog {
public:
    CAboutDlg();

private:
    void OnShowUserName();
};

}  // namespace orlimo
