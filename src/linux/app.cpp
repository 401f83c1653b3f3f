#include "linux/app.h"

#include <QCoreApplication>
#include <QDesktopServices>

#include "core/autorun.h"
#include "core/portal.h"
#include "core/shortcuts.h"
#include "linux/desktop.h"
#include "linux/dialogs.h"
#include "linux/frame.h"
#include "linux/texts.h"

namespace orlimo {
namespace {

XdgAutostart Autostart() { return XdgAutostart(QCoreApplication::applicationFilePath()); }

// "企业管理": the portal shortcut's name, the Windows link's file name
// without its folder separator and extension.
QString PortalShortcutName() {
    QString name = QString::fromUtf8(kPortalLinkName);
    if (name.startsWith('\\')) name.remove(0, 1);
    if (name.endsWith(QLatin1String(".lnk"))) name.chop(4);
    return name;
}

}  // namespace

COrlimoApp::COrlimoApp() = default;
COrlimoApp::~COrlimoApp() {
    // Dialogs still open at exit refer to this object.
    delete settings_dlg_;
    delete update_dlg_;
    delete about_dlg_;
}

void COrlimoApp::InitInstance() {
    autorun_flag = Autostart().Present() ? 1 : 0;
    const QString path = ResolveSettingsPath();
    QByteArray bytes;
    if (LoadSettings(path, &bytes)) {
        // Where the user set nothing, the values follow the shared file.
        if (path == UserSettingsPath()) FollowSharedFile(path, SharedSettingsPath(), &bytes);
        BookmarkList unused;
        ApplySettingsText(bytes.toStdString(), &own_settings, &unused);
        file_encoding = DetectEncoding(bytes.toStdString());
    } else {
        file_encoding = FileEncoding::Utf8;  // the file the dialog makes
    }
    ApplyPolicies();
    frame_ = std::make_unique<CMainFrame>(*this);
    frame_->Create();
    CreateAllShortcuts();
}

void COrlimoApp::ApplyPolicies() {
    const QtTextConverter converter;
    std::vector<PolicySource> sources;
    QByteArray policy;
    if (ReadWhole(PolicyFilePath(), &policy))
        sources.push_back(PolicyFromFile(PolicyFilePath().toStdString(), policy.toStdString(), converter));
    const PolicyInForce p = ApplyPolicy(own_settings, file_encoding, sources, converter);
    for (const std::string& reason : p.reasons) qWarning("orlimo: %s", reason.c_str());
    settings = p.values;
    settings_encoding = p.encoding;
    bookmark_entries.SplitBookmarks(settings.bookmark);
    locked = p.locked;
    autorun_policy = p.autorun;
    if (autorun_policy) {
        XdgAutostart autostart = Autostart();
        autorun_flag = EnforceAutorun(*autorun_policy, autostart) ? 1 : 0;
        if ((autorun_flag == 1) != *autorun_policy)
            qWarning("orlimo: autorun=%d of %s: the autostart entry could not be %s", *autorun_policy ? 1 : 0,
                     qUtf8Printable(PolicyFilePath()), *autorun_policy ? "written" : "turned off");
    }
}

bool COrlimoApp::SaveOwnSettings(QWidget* owner, const QString& path, const DialogValues& dialog,
                                 unsigned locked_then) {
    const SavedFile saved = SaveDialogValues(own_settings, file_encoding, dialog, locked_then, QtTextConverter());
    // In force at once, also when the file cannot be written.
    own_settings = saved.values;
    file_encoding = saved.encoding;
    ApplyPolicies();
    return SaveSettings(owner, path, QByteArray::fromStdString(saved.bytes));
}

void COrlimoApp::ExitInstance() {
    if (frame_) frame_->Destroy();
}

QUrl COrlimoApp::AddressUrl(const std::string& address) const {
    // QUrl's tolerant parsing encodes what may not stand in an address
    // (blanks, non-ASCII, quotes, "|", ...) and leaves escapes alone; but one
    // "%" that starts no escape would make it encode every "%" of the
    // address, its good escapes too. Such a "%" is written as "%25" first.
    const QString text = DecodeText(address, settings_encoding);
    auto hex = [&text](QString::size_type i) {
        return i < text.size() && ((text[i] >= '0' && text[i] <= '9') ||
                                   (text[i] >= 'a' && text[i] <= 'f') ||
                                   (text[i] >= 'A' && text[i] <= 'F'));
    };
    QString escaped;
    escaped.reserve(text.size());
    for (QString::size_type i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && !(hex(i + 1) && hex(i + 2))) {
            escaped += QLatin1String("%25");
        } else {
            escaped += text[i];
        }
    }
    return QUrl(escaped, QUrl::TolerantMode);
}

void COrlimoApp::LaunchAddress(const std::string& address) {
    // The core's rule, as on Windows: no control byte, not empty or overlong.
    if (!LaunchableAddress(address)) return;
    const QUrl url = AddressUrl(address);
    if (url.isValid()) QDesktopServices::openUrl(url);
}

void COrlimoApp::OpenPortalPage(const std::string& page_path) {
    LaunchAddress(PortalPageUrl(settings, page_path));
}

void COrlimoApp::OpenUrl(const std::string& url) { LaunchAddress(url); }

void COrlimoApp::OnLoginPage() { LaunchAddress(LoginUrl(settings)); }

template <class Dialog, class... Args>
void COrlimoApp::OpenCommandDialog(QPointer<QDialog>& open, bool notice, Args&... args) {
    if (open) {
        open->raise();
        if (!notice) open->activateWindow();
        return;
    }
    auto* dlg = new Dialog(args...);
    open = dlg;
    // Once it has finished, the command opens a new one, whatever other
    // dialog is still open then.
    QObject::connect(dlg, &QDialog::finished, dlg, [&open, dlg] {
        if (open == dlg) open = nullptr;
    });
    OpenDialog(dlg, notice);
}

void COrlimoApp::OnSettings() { OpenCommandDialog<CConfigDlg>(settings_dlg_, false, *this); }

void COrlimoApp::OnNotifierUpdate() { OpenCommandDialog<CUpdateDlg>(update_dlg_, false, *this); }

void COrlimoApp::ShowUpdatePrompt() { OpenCommandDialog<CUpdateDlg>(update_dlg_, true, *this); }

void COrlimoApp::OnAbout() { OpenCommandDialog<CAboutDlg>(about_dlg_, false); }

void COrlimoApp::OnAutoRun() {
    XdgAutostart autostart = Autostart();
    const AutorunToggle result = ToggleAutorun(autorun_flag, autostart);
    autorun_flag = result.autorun_flag;
    // The mark shows what the files say now; a refused change is reported.
    if (frame_) frame_->UpdateMenuItems();
    if (result.refused) AppMessageBox(nullptr, Text(IDS_SAVE_FAILED), QMessageBox::Warning);
}

int32_t COrlimoApp::AutorunFlag() {
    // Another program (a desktop's session settings) may have changed the
    // entries since: the mark shows their effect at every display.
    autorun_flag = Autostart().Present() ? 1 : 0;
    return autorun_flag;
}

void COrlimoApp::OnAppExit() { QCoreApplication::quit(); }

// ---- shortcuts ----

QByteArray COrlimoApp::PortalShortcut() const {
    // No launcher for an address that could not be opened either.
    const QUrl url = AddressUrl(LoginUrl(settings));
    if (!url.isValid()) return QByteArray();
    return PortalShortcutEntry(PortalShortcutName(), url.toString(QUrl::FullyEncoded));
}

void COrlimoApp::OnShortcutDesktop() { WritePortalShortcut(DesktopFolder(), false, PortalShortcut()); }

void COrlimoApp::OnShortcutApplications() {
    WritePortalShortcut(ApplicationsFolder(), true, PortalShortcut());
}

void COrlimoApp::OnShortcut(Command which) {
    switch (which) {
        case Command::ShortcutDesktop: OnShortcutDesktop(); break;
        case Command::ShortcutStartMenu: OnShortcutApplications(); break;
        default: CreateAllShortcuts(); break;
    }
}

void COrlimoApp::CreateAllShortcuts() {
    OnShortcutDesktop();
    OnShortcutApplications();
}

}  // namespace orlimo
