// The program's modal dialogs: the new-message and update prompts, the
// settings dialog and the about box.
#pragma once
#include <optional>
#include <string>

#include "win/framework.h"

namespace orlimo {

class COrlimoApp;
class Poller;

// "消息通知": closes itself as "下次再说" after kNewMessageTimeoutMs.
class CNewMessageDlg : public CDialog {
public:
    static constexpr UINT kNewMessageTimeoutMs = 15000;
    static constexpr UINT_PTR kCloseTimerId = 2;
    CNewMessageDlg(COrlimoApp& app, Poller& poller);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnTimer(UINT_PTR id) override;

private:
    COrlimoApp& app_;
    Poller& poller_;
};

// "通知器更新"
class CUpdateDlg : public CDialog {
public:
    explicit CUpdateDlg(COrlimoApp& app);

protected:
    void OnOK() override;

private:
    COrlimoApp& app_;
};

// "参数配置": edits server, port, interval and user id; a value that a
// policy sets is shown read-only, with the template's note.
class CConfigDlg : public CDialog {
public:
    explicit CConfigDlg(COrlimoApp& app);

    std::string path;
    std::string server;
    int32_t server_port = 0;
    int32_t interval_time = 0;
    int32_t user_id = 0;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    // Controls to members (save) or members to controls; false when a
    // field does not hold an integer (the user has been told).
    bool DoDataExchange(bool save);
    COrlimoApp& app_;
    unsigned locked_ = 0;                        // what a policy set when it opened
    std::optional<std::string> edited_server_;  // UTF-8, when the field was edited
};

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    bool OnCommand(WORD id, WORD code) override;

private:
    void OnShowUserName();
};

}  // namespace orlimo
