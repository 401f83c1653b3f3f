#include "core/poller.h"

#include "core/portal.h"

namespace orlimo {
namespace {

// Adds 1 with 32-bit wraparound instead of signed overflow. Neither counter
// can get there in practice (2^31 seconds is 68 years), but no tick may be UB.
void Increment(int32_t* counter) {
    const uint32_t bits = static_cast<uint32_t>(*counter) + 1u;
    *counter = bits <= 0x7FFFFFFFu ? static_cast<int32_t>(bits)
                                   : static_cast<int32_t>(bits - 0x80000000u) + INT32_MIN;
}

}  // namespace

ReplyMark FindReplyMark(const std::string& reply) {
    static const struct {
        const char* text;
        ReplyMark mark;
    } kMarks[] = {
        {"socket", ReplyMark::Socket},
        {"has", ReplyMark::Has},
        {"update", ReplyMark::Update},
    };
    for (const auto& m : kMarks) {
        const size_t pos = reply.find(m.text);
        if (pos != std::string::npos && pos >= 1) return m.mark;
    }
    return ReplyMark::None;
}

Poller::Poller(PollerHost& host, const Settings& settings, const PollerState& state)
    : PollerState(state), host_(host), settings_(settings) {}

PollerState Poller::State() const { return *this; }

void Poller::OnFrameCreated() {
    g_bMessagePending = 0;
    m_bBlinking = 0;
    m_bUpdatePrompted = 0;
    m_bNetFault = 0;
}

void Poller::StopBlinking() {
    if (m_bBlinking == 1) {
        host_.StopBlinkTimer();
        m_bBlinking = 0;
    }
}

void Poller::OnTimer(int id) {
    if (id == kPollTimerId) {
        OnPollTick();
    } else if (id == kBlinkTimerId) {
        OnBlinkTick();
    } else {
        host_.ShowOtherTimerMessage();
    }
}

void Poller::OnWake() { wake_countdown_ = kWakePollDelayTicks; }

void Poller::OnNetworkChanged() { network_countdown_ = kNetworkSettleTicks; }

void Poller::OnPollTick() {
    if (stopped_) return;
    Increment(&g_nPollSeconds);
    if (PollDue()) StartPoll();
    ShowWaitingPrompt();
}

bool Poller::PollDue() {
    if (wake_countdown_ > 0 && --wake_countdown_ == 0) wake_poll_due_ = true;
    if (network_countdown_ > 0 && --network_countdown_ == 0) network_poll_due_ = true;
    if (ticks_since_network_poll_ < kNetworkPollMinTicks) ++ticks_since_network_poll_;
    // Only a failed state is asked again when the network changes.
    if (!last_failed_) network_poll_due_ = false;
    // interval_time may be INT32_MIN and the quotient negative: 64-bit math.
    const int64_t remaining = int64_t{settings_.interval_time} - int64_t{g_nPollSeconds / 60};
    const bool due = remaining <= 0 || wake_poll_due_ ||
                     (network_poll_due_ && ticks_since_network_poll_ >= kNetworkPollMinTicks);
    // Due while the last query has not answered: no second query. The tick
    // still counts, so the poll is made on the first tick after the answer.
    return due && !fetching_;
}

void Poller::StartPoll() {
    g_nPollSeconds = 0;
    // This poll answers a wake and a network change that wait for one.
    wake_poll_due_ = false;
    if (network_poll_due_) {
        network_poll_due_ = false;
        ticks_since_network_poll_ = 0;
    }
    fetching_ = true;
    if (!host_.StartFetch(NotifyQueryUrl(settings_))) {
        fetching_ = false;
        ActOnReply(kNoSocket);
    }
}

void Poller::OpenMessagePrompt() {
    message_prompt_waits_ = false;
    prompt_open_ = true;
    host_.ShowNewMessagePrompt();
}

void Poller::OpenUpdatePrompt() {
    update_prompt_waits_ = false;
    host_.ShowUpdatePrompt();
}

void Poller::ShowWaitingPrompt() {
    if (!PromptWaiting() || !host_.UserCanBeDisturbed()) {
        undisturbed_ticks_ = 0;
        return;
    }
    if (++undisturbed_ticks_ < kUndisturbedTicks) return;
    undisturbed_ticks_ = 0;
    // One a tick, the new-message prompt first. A modal prompt keeps ticks
    // coming, so the other may follow beside it, as it may at any time.
    if (message_prompt_waits_ && !prompt_open_) {
        OpenMessagePrompt();
    } else if (update_prompt_waits_) {
        OpenUpdatePrompt();
    }
}

void Poller::OnFetchResult(const std::optional<std::string>& reply) {
    if (!fetching_ || stopped_) return;  // nothing asked, or exit has begun
    fetching_ = false;                   // the next due tick may poll again
    if (!reply) return;                  // reading the body failed: act on nothing
    ActOnReply(*reply);
}

void Poller::ActOnReply(const std::string& reply) {
    // Every branch finishes its state changes before a prompt, beside
    // which ticks and results go on; nothing is touched after it.
    const ReplyMark mark = FindReplyMark(reply);
    last_failed_ = mark == ReplyMark::Socket;
    switch (mark) {
        case ReplyMark::Socket:
            host_.SetTrayIcon(kIconWhite, TrayTip::NetFault);
            m_bNetFault = 1;
            if (m_bBlinking == 1) {
                host_.StopBlinkTimer();
                m_bBlinking = 0;
            }
            break;
        case ReplyMark::Has:
            g_bMessagePending = 1;
            if (m_bBlinking == 0) {
                host_.StartBlinkTimer();
                m_bBlinking = 1;
            }
            // One prompt at most: while it is open, further news only keeps
            // the icon blinking (nested prompts would pile up without end).
            // While the user cannot be disturbed it waits, once.
            if (!prompt_open_) {
                if (host_.UserCanBeDisturbed()) {
                    OpenMessagePrompt();
                } else {
                    message_prompt_waits_ = true;
                }
            }
            break;
        case ReplyMark::Update:
            if (m_bUpdatePrompted == 0) {
                m_bUpdatePrompted = 1;
                if (host_.UserCanBeDisturbed()) {
                    OpenUpdatePrompt();
                } else {
                    update_prompt_waits_ = true;
                }
            }
            break;
        case ReplyMark::None:
            // No messages wait any more: neither does their prompt.
            message_prompt_waits_ = false;
            if (m_bBlinking == 1) {
                host_.StopBlinkTimer();
                m_bBlinking = 0;
                host_.SetTrayIcon(kIconNormal, TrayTip::Normal);
            }
            if (m_bNetFault == 1) {
                m_bNetFault = 0;
                host_.SetTrayIcon(kIconNormal, TrayTip::Normal);
            }
            break;
    }
}

void Poller::OnBlinkTick() {
    Increment(&g_nBlinkPhase);
    if (m_bBlinking == 1 && g_bMessagePending == 0) {
        host_.StopBlinkTimer();
        m_bBlinking = 0;
        host_.SetTrayIcon(kIconNormal, TrayTip::Normal);
        return;
    }
    if (g_nBlinkPhase % 2 == 0) {
        host_.SetTrayIcon(kIconWhite, TrayTip::NewMessage);
    } else {
        host_.SetTrayIcon(kIconNormal, TrayTip::NewMessage);
    }
}

// ---- ReplyText ----
//
// Decisions:
//  - A CR directly before a LF is dropped with the LF (also when the two
//    arrive in different chunks); any other CR is an ordinary byte, a CR at
//    the very end of the body included.
//  - A line keeps its first kMaxReplyLine bytes (a CR that is dropped with
//    its LF does not count); the rest of it up to its LF is skipped.
//  - Once kMaxReplyBytes bytes have been fed, the body counts as ended
//    there: the line in progress is kept by Finish like any last line
//    without a line feed.
//
// To recognise "CR directly before LF" without more state, line_ may hold
// one byte past kMaxReplyLine: that extra byte is always the most recent
// byte of an overlong line, and it is cut off when the line ends.

bool ReplyText::Feed(const char* data, size_t size) {
    if (done_) return false;
    for (size_t i = 0; i < size; ++i) {
        if (total_ >= kMaxReplyBytes) {
            done_ = true;
            return false;
        }
        ++total_;
        const char c = data[i];
        if (c == '\n') {
            EndLine();
            if (lines_ >= kMaxLines) {
                done_ = true;
                return false;
            }
            continue;
        }
        line_open_ = true;
        if (line_.size() <= kMaxReplyLine) {
            line_.push_back(c);
        } else {
            line_.back() = c;
        }
    }
    if (total_ >= kMaxReplyBytes) done_ = true;
    return !done_;
}

void ReplyText::EndLine() {
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.size() > kMaxReplyLine) line_.resize(kMaxReplyLine);
    text_ += line_;
    text_ += "\r\n";
    line_.clear();
    line_open_ = false;
    ++lines_;
}

std::string ReplyText::Finish() {
    if (line_open_ && lines_ < kMaxLines) {
        // Not ended by a LF: a trailing CR stays, only the length is capped.
        if (line_.size() > kMaxReplyLine) line_.resize(kMaxReplyLine);
        text_ += line_;
        text_ += "\r\n";
        ++lines_;
    }
    line_.clear();
    line_open_ = false;
    done_ = true;
    return text_;
}

}  // namespace orlimo
