#include "linux/dialogs.h"

#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/limits.h"
#include "core/poller.h"
#include "core/portal.h"
#include "linux/app.h"
#include "linux/settings_file.h"
#include "linux/texts.h"

namespace orlimo {
namespace {

// The buttons of a dialog in the template's arrangement: the cancel button
// on the left, the default button on the right.
QHBoxLayout* ButtonRow(QDialog* dlg, QPushButton* left, QPushButton* right) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(left);
    row->addWidget(right);
    row->addStretch(1);
    QObject::connect(right, &QPushButton::clicked, dlg, &QDialog::accept);
    QObject::connect(left, &QPushButton::clicked, dlg, &QDialog::reject);
    right->setDefault(true);
    return row;
}

void FixedDialog(QDialog* dlg, int dialog_id) {
    dlg->setWindowTitle(DialogCaption(dialog_id));
    dlg->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                        Qt::WindowCloseButtonHint);
}

// Where the window system lets no program keep a new window from taking
// the keyboard (Wayland: the compositor gives it the focus), a notice takes
// no key until the user has clicked into it: keys typed for their own window
// (a Return) must not answer it.
class KeysAfterClick : public QObject {
public:
    explicit KeysAfterClick(QDialog* dlg) : QObject(dlg), dlg_(dlg) { qApp->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || (widget != dlg_ && !dlg_->isAncestorOf(widget))) return false;
        switch (event->type()) {
            case QEvent::MouseButtonPress:
                qApp->removeEventFilter(this);  // the user has come to it
                return false;
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
                return true;
            default:
                return false;
        }
    }

private:
    QDialog* dlg_;
};

}  // namespace

void OpenDialog(QDialog* dlg, bool notice) {
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    if (notice) {
        // Not modal either: Qt asks the window manager to activate a modal
        // window when it is shown (a window-modal one without an owner
        // locks nothing anyway).
        dlg->setWindowFlag(Qt::WindowStaysOnTopHint);
        dlg->setAttribute(Qt::WA_ShowWithoutActivating);
        if (QGuiApplication::platformName() != QLatin1String("xcb")) new KeysAfterClick(dlg);
        dlg->show();
        dlg->raise();
        return;
    }
    dlg->open();
    dlg->raise();
    dlg->activateWindow();
}

void AppMessageBox(QWidget* owner, const QString& text, QMessageBox::Icon icon) {
    // On the heap: should its owner go while it is open, the box goes with it
    // and this returns.
    auto* box = new QMessageBox(icon, AppTitle(), text, QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    // Raised from a dialog, it locks that dialog only.
    if (owner) box->setWindowModality(Qt::WindowModal);
    box->exec();
}

// ---- new message ----

CNewMessageDlg::CNewMessageDlg(COrlimoApp& app, Poller& poller) : app_(app), poller_(poller) {
    FixedDialog(this, IDD_NEWMESSAGE);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(StaticText(IDD_NEWMESSAGE, 0)));
    auto* view = new QPushButton(ControlText(IDD_NEWMESSAGE, IDOK));
    auto* later = new QPushButton(ControlText(IDD_NEWMESSAGE, IDCANCEL));
    layout->addLayout(ButtonRow(this, later, view));
    setTabOrder(view, later);
    view->setFocus();
    close_timer_.setSingleShot(true);
    connect(&close_timer_, &QTimer::timeout, this, &QDialog::reject);
    close_timer_.start(kNewMessageTimeoutMs);
}

void CNewMessageDlg::accept() {
    close_timer_.stop();
    poller_.ClearMessagePending();
    app_.OpenPortalPage(kMessageBoxPage);
    QDialog::accept();
}

// ---- update ----

CUpdateDlg::CUpdateDlg(COrlimoApp& app) : app_(app) {
    FixedDialog(this, IDD_UPDATE);
    auto* layout = new QVBoxLayout(this);
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(StaticText(IDD_UPDATE, i));
        label->setAlignment(Qt::AlignHCenter);
        layout->addWidget(label);
    }
    auto* download = new QPushButton(ControlText(IDD_UPDATE, IDOK));
    auto* close = new QPushButton(ControlText(IDD_UPDATE, IDCANCEL));
    layout->addLayout(ButtonRow(this, close, download));
    setTabOrder(download, close);
    download->setFocus();
}

void CUpdateDlg::accept() {
    app_.LaunchAddress(PersonalDataUrl(app_.settings));
    QDialog::accept();
}

// ---- settings ----

CConfigDlg::CConfigDlg(COrlimoApp& app) : app_(app) {
    FixedDialog(this, IDD_CONFIG);
    // The template's static texts, in its order.
    enum { kServerLabel, kIntervalLabel, kUserLabel, kMinutes, kPortLabel };
    auto label = [](int n, QLineEdit* buddy) {
        auto* l = new QLabel(StaticText(IDD_CONFIG, n));
        l->setBuddy(buddy);
        return l;
    };
    server_edit_ = new QLineEdit;
    port_edit_ = new QLineEdit;
    interval_edit_ = new QLineEdit;
    user_edit_ = new QLineEdit;
    auto* grid = new QGridLayout;
    grid->addWidget(label(kServerLabel, server_edit_), 0, 0, Qt::AlignRight);
    grid->addWidget(server_edit_, 0, 1, 1, 2);
    grid->addWidget(label(kPortLabel, port_edit_), 1, 0, Qt::AlignRight);
    grid->addWidget(port_edit_, 1, 1);
    grid->addWidget(label(kIntervalLabel, interval_edit_), 2, 0, Qt::AlignRight);
    grid->addWidget(interval_edit_, 2, 1);
    grid->addWidget(new QLabel(StaticText(IDD_CONFIG, kMinutes)), 2, 2);
    grid->addWidget(label(kUserLabel, user_edit_), 3, 0, Qt::AlignRight);
    grid->addWidget(user_edit_, 3, 1);
    auto* save = new QPushButton(ControlText(IDD_CONFIG, IDOK));
    auto* cancel = new QPushButton(ControlText(IDD_CONFIG, IDCANCEL));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(ButtonRow(this, cancel, save));
    // The template's tab order: the buttons first, then the fields in the
    // order of their ids.
    setTabOrder(save, cancel);
    setTabOrder(cancel, server_edit_);
    setTabOrder(server_edit_, interval_edit_);
    setTabOrder(interval_edit_, user_edit_);
    setTabOrder(user_edit_, port_edit_);

    // The values in force, which after a failed save are not the file's.
    path = ResolveSettingsPath();
    const Settings& s = app_.settings;
    server = s.server;
    server_port = s.server_port;
    user_id = s.user_id;
    interval_time = s.interval_time;
    server_edit_->setText(DecodeText(server, app_.settings_encoding));
    port_edit_->setText(QString::number(server_port));
    interval_edit_->setText(QString::number(interval_time));
    user_edit_->setText(QString::number(user_id));
    // What the policy sets shows, greyed as on Windows, and cannot be edited.
    locked_ = app_.locked;
    const std::pair<QLineEdit*, unsigned> fields[] = {
        {server_edit_, kServerBit}, {port_edit_, kPortBit}, {interval_edit_, kIntervalBit}, {user_edit_, kUserIdBit}};
    for (const auto& [edit, bit] : fields) {
        if (!(locked_ & bit)) continue;
        edit->setReadOnly(true);
        QPalette grey = edit->palette();
        grey.setColor(QPalette::Base, grey.color(QPalette::Window));
        edit->setPalette(grey);
    }
    if (locked_ & (kServerBit | kPortBit | kIntervalBit | kUserIdBit))
        layout->insertWidget(1, new QLabel(ControlText(IDD_CONFIG, IDC_POLICY_NOTE)));
    save->setFocus();
}

bool CConfigDlg::ExchangeInt(QLineEdit* edit, int32_t* value) {
    // Only digits, a sign and blanks can pass; anything else fails as '?'.
    std::string text;
    for (QChar c : edit->text()) text.push_back(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
    if (ParseDialogInteger(text, value)) return true;
    AppMessageBox(this, Text(IDS_ENTER_INTEGER), QMessageBox::Warning);
    edit->setFocus();
    edit->selectAll();
    return false;
}

void CConfigDlg::accept() {
    // Nothing is taken over unless every field is valid.
    int32_t port = server_port, interval = interval_time, user = user_id;
    if (!ExchangeInt(port_edit_, &port)) return;
    if (!ExchangeInt(interval_edit_, &interval)) return;
    if (!ExchangeInt(user_edit_, &user)) return;
    // An unchanged server keeps its bytes, whatever they decode to.
    DialogValues dialog;
    if (server_edit_->text() != DecodeText(server, app_.settings_encoding))
        dialog.server = server_edit_->text().toUtf8().toStdString();
    server_port = dialog.server_port = port;
    interval_time = dialog.interval_time = interval;
    user_id = dialog.user_id = user;
    app_.SaveOwnSettings(this, path, dialog, locked_);
    server = app_.settings.server;
    QDialog::accept();
}

// ---- about ----

CAboutDlg::CAboutDlg() {
    FixedDialog(this, IDD_ABOUTBOX);
    auto* icon = new QLabel;
    icon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* text = new QVBoxLayout;
    auto* version = new QLabel(StaticText(IDD_ABOUTBOX, 0));
    version->setTextFormat(Qt::PlainText);  // no mnemonic or markup processing
    text->addWidget(version);
    text->addWidget(new QLabel(StaticText(IDD_ABOUTBOX, 1)));
    auto* ok = new QPushButton(ControlText(IDD_ABOUTBOX, IDOK));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(text, 1);
    top->addWidget(ok, 0, Qt::AlignTop);
    auto* user = new QPushButton(ControlText(IDD_ABOUTBOX, IDC_SHOWUSER));
    user->setAutoDefault(false);
    connect(user, &QPushButton::clicked, this, [this] { OnShowUserName(); });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(user, 0, Qt::AlignHCenter);
    ok->setFocus();
}

void CAboutDlg::OnShowUserName() {
    // The login name of the user the program runs as.
    const passwd* pw = getpwuid(geteuid());
    if (pw && pw->pw_name && pw->pw_name[0]) {
        AppMessageBox(this, QString::fromLocal8Bit(pw->pw_name));
    } else {
        AppMessageBox(this, Text(IDS_NO_USER_NAME));
    }
}

}  // namespace orlimo
