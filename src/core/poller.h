// The notification poller: counts poll-timer ticks, fetches the
// notification query every interval_time minutes and turns the reply into
// icon, tooltip, blink timer and prompts. Each front end's frame is its
// host. Besides the interval it polls a few seconds after the computer
// wakes (OnWake) and, while the last reply was a failure, soon after the
// network changes (OnNetworkChanged); a prompt that would come while the
// user cannot be disturbed (UserCanBeDisturbed) waits until that ends.
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

// Poll ticks from a wake report to its poll: time for the network to come
// back (Wi-Fi, a VPN) before the query goes out.
constexpr int kWakePollDelayTicks = 5;
// Poll ticks without a further network change before the failed state is
// polled again: addresses come and go in bursts when a link comes up.
constexpr int kNetworkSettleTicks = 2;
// At most one poll for network changes in this many poll ticks.
constexpr int kNetworkPollMinTicks = 60;
// Poll ticks in a row on which the user can be disturbed before a prompt
// that waited comes: a presentation that leaves its screen for a moment
// (switching slides or windows) does not bring it.
constexpr int kUndisturbedTicks = 2;

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
    // False while the user cannot be disturbed (a full-screen presentation,
    // a game, quiet hours): then a reply blinks the icon and sets its
    // tooltip as ever, but its prompt waits. Asked when a reply would open a
    // prompt and on every poll tick while one waits; it must answer at once.
    virtual bool UserCanBeDisturbed() { return true; }
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

    // The computer has woken from sleep: a poll comes kWakePollDelayTicks
    // poll ticks later (or on the first tick after a running query), and
    // the interval counts from it, as from every poll. Reports that follow
    // one another (Windows sends two for one wake) make one poll.
    void OnWake();
    // The network changed (an address came or went): while the last reply
    // was a failure, a poll comes once kNetworkSettleTicks ticks pass
    // without a further change, at most one such poll in
    // kNetworkPollMinTicks ticks; a later report then waits for the rest
    // of that minute. Any other poll meanwhile makes it unneeded.
    void OnNetworkChanged();
    // A prompt waits for the user to be free.
    bool PromptWaiting() const { return message_prompt_waits_ || update_prompt_waits_; }

    PollerState State() const;

private:
    void ActOnReply(const std::string& reply);
    bool PollDue();
    void StartPoll();
    void OpenMessagePrompt();
    void OpenUpdatePrompt();
    void ShowWaitingPrompt();

    PollerHost& host_;
    const Settings& settings_;
    bool fetching_ = false;     // a query was started and has not answered yet
    bool prompt_open_ = false;  // the new-message prompt is open
    bool stopped_ = false;
    bool last_failed_ = false;  // the last reply acted on was "socket"
    // Prompts held back while the user could not be disturbed, and the
    // ticks in a row since the user can be again.
    bool message_prompt_waits_ = false;
    bool update_prompt_waits_ = false;
    int undisturbed_ticks_ = 0;
    // Ticks until the wake poll (0: none coming), and whether it is due.
    int wake_countdown_ = 0;
    bool wake_poll_due_ = false;
    // Ticks until the network has settled (0: no change waiting), whether a
    // poll for it is due, and the ticks since the last such poll.
    int network_countdown_ = 0;
    bool network_poll_due_ = false;
    int ticks_since_network_poll_ = kNetworkPollMinTicks;
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
