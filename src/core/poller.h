// The notification poller: counts poll-timer ticks, fetches the
// notification query every interval_time minutes and turns the reply into
// icon, tooltip, blink timer and prompts. The Win32 frame is its host.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/settings.h"

namespace orlimo {

constexpr int kPollTimerId = 1;
constexpr int kBlinkTimerId = 2;
constexpr int kIconNormal = 133;
constexpr int kIconWhite = 134;

enum class TrayTip { Normal, NetFault, NewMessage };  // "短消息通知", "消息通知:网络故障!", "您有新消息!"

// The result of a query that could not be made.
inline const char kNoSocket[] = "no socket.";

class PollerHost {
public:
    virtual ~PollerHost() = default;
    // Starts the query beside the user interface and returns at once. When it
    // returns true, the result comes back later through Poller::OnFetchResult,
    // exactly once: the reply text, "no socket." when the query could not be
    // made, or nothing when reading the body failed. False when no query
    // could be started (nothing comes back; the poll counts as "no socket.").
    virtual bool StartFetch(const std::string& url) = 0;
    virtual void SetTrayIcon(int icon_id, TrayTip tip) = 0;
    virtual void StartBlinkTimer() = 0;
    virtual void StopBlinkTimer() = 0;
    // Ticks and fetch results go on being delivered while the prompts are
    // open. The new-message prompt counts as open until the host calls
    // Poller::OnMessagePromptClosed (a modal prompt: before this returns).
    virtual void ShowNewMessagePrompt() = 0;
    virtual void ShowUpdatePrompt() = 0;
    virtual void ShowOtherTimerMessage() = 0; // "other timer!"
};

enum class ReplyMark { None, Socket, Has, Update };

// The first of "socket", "has", "update" whose first occurrence starts at
// byte 1 or later.
ReplyMark FindReplyMark(const std::string& reply);

// The poller's counters and flags, as they stand.
struct PollerState {
    int32_t g_bMessagePending = 0;
    int32_t g_nPollSeconds = 0;
    int32_t g_nBlinkPhase = 0;
    int32_t m_bBlinking = 0;
    int32_t m_bNetFault = 0;
    int32_t m_bUpdatePrompted = 0;
};

// The state is held privately: it changes only through the operations
// below, so that what the icon shows and what the flags say cannot part.
class Poller : private PollerState {
public:
    // A poller starts from state: all zero unless it resumes at another.
    Poller(PollerHost& host, const Settings& settings, const PollerState& state = {});

    void OnTimer(int id);
    // Counts the tick; when a poll is due and no query is running, starts one.
    void OnPollTick();
    void OnBlinkTick();
    // The result of the query that OnPollTick started.
    void OnFetchResult(const std::optional<std::string>& reply);
    // Exit has begun: no query is started and no result is acted on any more.
    void Stop() { stopped_ = true; }

    bool FetchRunning() const { return fetching_; }
    bool MessagePromptOpen() const { return prompt_open_; }

    // Called by the new-message prompt's "查看".
    void ClearMessagePending() { g_bMessagePending = 0; }
    // The new-message prompt has closed: the next news may open one again.
    void OnMessagePromptClosed() { prompt_open_ = false; }
    // The frame's window was created: no message pending, no blinking, no
    // update prompted, no fault.
    void OnFrameCreated();
    // The frame's window is going: a blinking icon stops.
    void StopBlinking();

    PollerState State() const;

private:
    void ActOnReply(const std::string& reply);

    PollerHost& host_;
    const Settings& settings_;
    bool fetching_ = false;     // a query was started and has not answered yet
    bool prompt_open_ = false;  // the new-message prompt is open
    bool stopped_ = false;
};

// Collects a reply body into at most 100 lines, each followed by "\r\n",
// within fixed bounds: a line longer than kMaxReplyLine keeps its first
// kMaxReplyLine bytes, and reading stops after kMaxReplyBytes bytes.
class ReplyText {
public:
    static constexpr int kMaxLines = 100;
    static constexpr size_t kMaxReplyLine = 64 * 1024;
    static constexpr size_t kMaxReplyBytes = 1024 * 1024;

    // Feeds the next chunk; returns false once no more input is wanted.
    bool Feed(const char* data, size_t size);
    // Ends the body (a last line without line feed counts) and returns the text.
    std::string Finish();
    bool Done() const { return done_; }

private:
    void EndLine();
    std::string text_;
    std::string line_;
    bool line_open_ = false;
    int lines_ = 0;
    size_t total_ = 0;
    bool done_ = false;
};

}  // namespace orlimo
