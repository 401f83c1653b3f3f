// The notification poller's timing and state table, reply marks, and the
// capped reply text.
#include "core/poller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace orlimo {
namespace {

using Events = std::vector<std::string>;

std::string TipName(TrayTip tip) {
    switch (tip) {
        case TrayTip::Normal: return "Normal";
        case TrayTip::NetFault: return "NetFault";
        case TrayTip::NewMessage: return "NewMessage";
    }
    return "?";
}

// Records every call; replies come from a script (a missing one is "").
class FakeHost : public PollerHost {
public:
    bool StartFetch(const std::string& url) override {
        urls.push_back(url);
        return start_ok;
    }
    std::optional<std::string> NextReply() {
        if (replies.empty()) return std::string();
        std::optional<std::string> r = replies.front();
        replies.pop_front();
        return r;
    }
    void SetTrayIcon(int icon_id, TrayTip tip) override {
        events.push_back("icon " + std::to_string(icon_id) + " " + TipName(tip));
    }
    void StartBlinkTimer() override { events.push_back("start"); }
    void StopBlinkTimer() override { events.push_back("stop"); }
    void ShowNewMessagePrompt() override {
        events.push_back("message prompt");
        if (on_message_prompt) on_message_prompt();
    }
    void ShowUpdatePrompt() override {
        events.push_back("update prompt");
        if (on_update_prompt) on_update_prompt();
    }
    void ShowOtherTimerMessage() override { events.push_back("other timer"); }
    bool UserCanBeDisturbed() override { return can_disturb; }

    bool start_ok = true;
    bool can_disturb = true;
    std::deque<std::optional<std::string>> replies;
    std::vector<std::string> urls;
    Events events;
    std::function<void()> on_message_prompt;
    std::function<void()> on_update_prompt;
};

struct Flags {
    int32_t pending, blinking, net_fault, update_prompted;
    bool operator==(const Flags& o) const {
        return pending == o.pending && blinking == o.blinking && net_fault == o.net_fault &&
               update_prompted == o.update_prompted;
    }
};

std::ostream& operator<<(std::ostream& os, const Flags& f) {
    return os << "{pending " << f.pending << ", blinking " << f.blinking << ", net_fault "
              << f.net_fault << ", update_prompted " << f.update_prompted << "}";
}

Flags FlagsOf(const Poller& p) {
    const PollerState st = p.State();
    return {st.g_bMessagePending, st.m_bBlinking, st.m_bNetFault, st.m_bUpdatePrompted};
}

// One poll-timer tick; a query it starts is answered at once with the next
// scripted reply, as the frame's message loop would deliver it.
void Tick(Poller& p, FakeHost& host) {
    const size_t before = host.urls.size();
    p.OnTimer(kPollTimerId);
    if (host.urls.size() != before) p.OnFetchResult(host.NextReply());
}

PollerState StateOf(const Flags& f, int32_t poll_seconds) {
    PollerState st;
    st.g_bMessagePending = f.pending;
    st.m_bBlinking = f.blinking;
    st.m_bNetFault = f.net_fault;
    st.m_bUpdatePrompted = f.update_prompted;
    st.g_nPollSeconds = poll_seconds;
    return st;
}

// ---- marks ----

TEST(FindReplyMark, FirstOccurrenceMustStartAfterByteZero) {
    const struct {
        std::string reply;
        ReplyMark mark;
    } cases[] = {
        {"no socket.", ReplyMark::Socket},
        {"", ReplyMark::None},
        {"has", ReplyMark::None},
        {"has\r\nhas\r\n", ReplyMark::None},  // first occurrence at 0 decides
        {"\r\nhas\r\n", ReplyMark::Has},
        {"xhas", ReplyMark::Has},
        {"chase", ReplyMark::Has},  // inside a word
        {"x HAS", ReplyMark::None},
        {" has update", ReplyMark::Has},
        {" update has", ReplyMark::Has},
        {" update", ReplyMark::Update},
        {"update", ReplyMark::None},
        {"hasupdate", ReplyMark::Update},
        {" has socket", ReplyMark::Socket},
        {"socket has", ReplyMark::Has},
        {"socket update", ReplyMark::Update},
        {"ok\r\n", ReplyMark::None},
        {std::string("\0has", 4), ReplyMark::Has},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindReplyMark(c.reply), c.mark) << "reply: '" << c.reply << "'";
    }
}

// ---- timer dispatch and timing ----

TEST(PollerTimer, DispatchesByTimerId) {
    FakeHost host;
    Settings s;
    s.interval_time = 100;
    Poller p(host, s);
    p.OnTimer(kPollTimerId);
    EXPECT_EQ(p.State().g_nPollSeconds, 1);
    p.OnTimer(kBlinkTimerId);
    EXPECT_EQ(p.State().g_nBlinkPhase, 1);
    for (int id : {3, 0, -1}) p.OnTimer(id);
    EXPECT_EQ(host.events, (Events{"icon 133 NewMessage", "other timer", "other timer", "other timer"}));
    EXPECT_EQ(p.State().g_nPollSeconds, 1);
    EXPECT_EQ(p.State().g_nBlinkPhase, 1);
    EXPECT_TRUE(host.urls.empty());
}

// The ticks (1-based) on which a query goes out, in the first `ticks` ticks.
std::vector<int> PollTicks(int32_t interval, int ticks) {
    FakeHost host;
    Settings s;
    s.interval_time = interval;
    Poller p(host, s);
    std::vector<int> polled;
    for (int t = 1; t <= ticks; ++t) {
        const size_t before = host.urls.size();
        Tick(p, host);
        if (host.urls.size() != before) polled.push_back(t);
    }
    return polled;
}

TEST(PollerTimer, PollsEveryIntervalMinutes) {
    EXPECT_EQ(PollTicks(1, 185), (std::vector<int>{60, 120, 180}));
    EXPECT_EQ(PollTicks(2, 250), (std::vector<int>{120, 240}));
    EXPECT_EQ(PollTicks(0, 4), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(PollTicks(-3, 4), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(PollTicks(INT32_MIN, 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(PollTicks(INT32_MAX, 1000), (std::vector<int>{}));
}

TEST(PollerTimer, NewIntervalCountsTicksAlreadyCounted) {
    FakeHost host;
    Settings s;
    s.interval_time = 100;
    Poller p(host, s);
    for (int i = 0; i < 200; ++i) p.OnPollTick();
    EXPECT_TRUE(host.urls.empty());
    EXPECT_EQ(p.State().g_nPollSeconds, 200);
    s.interval_time = 2;  // read afresh: 200 ticks are 3 whole minutes
    p.OnPollTick();
    EXPECT_EQ(host.urls.size(), 1u);
    EXPECT_EQ(p.State().g_nPollSeconds, 0);
}

TEST(PollerTimer, QueryFollowsCurrentSettings) {
    FakeHost host;
    Settings s;
    s.server = "h";
    s.user_id = -5;
    s.interval_time = 0;
    Poller p(host, s);
    Tick(p, host);
    s.server_port = 8080;
    s.user_id = 9;
    Tick(p, host);
    EXPECT_EQ(host.urls, (std::vector<std::string>{
                             "http://h/velsa/home/notifyMsg.jsp?usr_id=-5&ver=1",
                             "http://h:8080/velsa/home/notifyMsg.jsp?usr_id=9&ver=1"}));
}

// ---- the state table ----

TEST(PollerReply, StateTable) {
    const Flags kIdle{0, 0, 0, 0};
    const struct Case {
        const char* name;
        Flags before;
        std::optional<std::string> reply;
        Events events;
        Flags after;
    } cases[] = {
        {"plain, idle", kIdle, "ok\r\n", {}, kIdle},
        {"plain stops blinking, keeps pending", {1, 1, 0, 0}, "ok\r\n",
         {"stop", "icon 133 Normal"}, {1, 0, 0, 0}},
        {"plain clears net fault", {0, 0, 1, 0}, "ok\r\n", {"icon 133 Normal"}, kIdle},
        {"plain, blinking and net fault", {1, 1, 1, 1}, "", {"stop", "icon 133 Normal", "icon 133 Normal"},
         {1, 0, 0, 1}},
        {"mark at 0 is plain", {0, 0, 1, 0}, "has\r\nhas\r\n", {"icon 133 Normal"}, kIdle},
        {"socket, idle", kIdle, "no socket.", {"icon 134 NetFault"}, {0, 0, 1, 0}},
        {"socket stops blinking, keeps pending", {1, 1, 0, 0}, "no socket.",
         {"icon 134 NetFault", "stop"}, {1, 0, 1, 0}},
        {"socket again", {0, 0, 1, 0}, "no socket.", {"icon 134 NetFault"}, {0, 0, 1, 0}},
        {"socket wins over has", kIdle, "x has socket", {"icon 134 NetFault"}, {0, 0, 1, 0}},
        {"has, idle", kIdle, "\r\nhas\r\n", {"start", "message prompt"}, {1, 1, 0, 0}},
        {"has while blinking", {1, 1, 0, 0}, "xhas", {"message prompt"}, {1, 1, 0, 0}},
        {"has after user viewed, still blinking", {0, 1, 0, 0}, "xhas", {"message prompt"}, {1, 1, 0, 0}},
        {"has keeps net fault", {0, 0, 1, 0}, "xhas", {"start", "message prompt"}, {1, 1, 1, 0}},
        {"has wins over update", kIdle, "x update has", {"start", "message prompt"}, {1, 1, 0, 0}},
        {"update, first", kIdle, "x update", {"update prompt"}, {0, 0, 0, 1}},
        {"update, again", {0, 0, 0, 1}, "x update", {}, {0, 0, 0, 1}},
        {"update keeps net fault and blinking", {1, 1, 1, 0}, "x update", {"update prompt"}, {1, 1, 1, 1}},
        {"read failure acts on nothing", {1, 1, 1, 0}, std::nullopt, {}, {1, 1, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host;
        Settings s;
        s.interval_time = 0;
        Poller p(host, s, StateOf(c.before, 5));
        p.OnPollTick();
        p.OnFetchResult(c.reply);
        EXPECT_EQ(host.urls.size(), 1u);
        EXPECT_EQ(p.State().g_nPollSeconds, 0);
        EXPECT_EQ(host.events, c.events);
        EXPECT_EQ(FlagsOf(p), c.after);
    }
}

TEST(PollerBlink, AlternatesUntilViewed) {
    FakeHost host;
    Settings s;
    s.interval_time = 0;
    Poller p(host, s);
    host.replies.push_back("\r\nhas\r\n");
    Tick(p, host);
    host.events.clear();
    p.OnTimer(kBlinkTimerId);  // phase 1
    p.OnTimer(kBlinkTimerId);  // phase 2
    p.OnTimer(kBlinkTimerId);  // phase 3
    EXPECT_EQ(host.events, (Events{"icon 133 NewMessage", "icon 134 NewMessage", "icon 133 NewMessage"}));
    host.events.clear();
    p.ClearMessagePending();  // "查看"
    p.OnTimer(kBlinkTimerId);  // phase 4: stops
    EXPECT_EQ(host.events, (Events{"stop", "icon 133 Normal"}));
    EXPECT_EQ(FlagsOf(p), (Flags{0, 0, 0, 0}));
    host.events.clear();
    p.OnTimer(kBlinkTimerId);  // a stray tick: phase 5, not reset, odd picture
    EXPECT_EQ(host.events, (Events{"icon 133 NewMessage"}));
    EXPECT_EQ(p.State().g_nBlinkPhase, 5);
}

// ---- queries beside the user interface ----

TEST(PollerFetch, DueTicksWhileAQueryRunsStartNoSecondOne) {
    FakeHost host;
    Settings s;
    s.interval_time = 1;
    Poller p(host, s);
    for (int t = 1; t <= 125; ++t) p.OnTimer(kPollTimerId);  // tick 120 fell due meanwhile
    EXPECT_EQ(host.urls.size(), 1u);
    EXPECT_TRUE(p.FetchRunning());
    EXPECT_EQ(p.State().g_nPollSeconds, 65);  // the ticks went on counting

    p.OnFetchResult(std::string("no socket."));  // late, but acted on as ever
    EXPECT_EQ(host.events, (Events{"icon 134 NetFault"}));
    p.OnFetchResult(std::string("ok"));  // nothing was asked: ignored
    EXPECT_EQ(FlagsOf(p), (Flags{0, 0, 1, 0}));

    p.OnTimer(kPollTimerId);  // the first tick after the answer polls
    EXPECT_EQ(host.urls.size(), 2u);
    EXPECT_EQ(p.State().g_nPollSeconds, 0);

    p.OnFetchResult(std::nullopt);  // the body failed: acts on nothing
    host.start_ok = false;          // no query can be started: "no socket." at once
    host.events.clear();
    for (int t = 1; t <= 60; ++t) p.OnTimer(kPollTimerId);
    EXPECT_EQ(host.urls.size(), 3u);
    EXPECT_FALSE(p.FetchRunning());
    EXPECT_EQ(host.events, (Events{"icon 134 NetFault"}));
}

TEST(PollerFetch, ResultAfterExitBeganIsNotActedOn) {
    FakeHost host;
    Settings s;
    s.interval_time = 0;
    Poller p(host, s);
    p.OnTimer(kPollTimerId);
    p.Stop();
    p.OnFetchResult(std::string("\r\nhas\r\n"));
    p.OnTimer(kPollTimerId);
    EXPECT_EQ(host.urls.size(), 1u);
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(FlagsOf(p), (Flags{0, 0, 0, 0}));
}

TEST(PollerPrompt, OneNewMessagePromptAtMost) {
    FakeHost host;
    Settings s;
    s.interval_time = 0;
    Poller p(host, s);
    int open = 0, most_open = 0;
    host.on_message_prompt = [&] {
        most_open = std::max(most_open, ++open);
        // The prompt's modal loop goes on delivering ticks and answers:
        // twenty seconds of a portal that keeps saying "has".
        for (int i = 0; i < 20; ++i) {
            host.replies.push_back(std::string("xhas"));
            Tick(p, host);
            p.OnTimer(kBlinkTimerId);
        }
        --open;
        p.OnMessagePromptClosed();
    };
    host.replies.push_back(std::string("\r\nhas\r\n"));
    Tick(p, host);
    EXPECT_EQ(most_open, 1);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "message prompt"), 1);
    EXPECT_EQ(host.urls.size(), 21u);  // the polls went on inside the prompt
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "icon 134 NewMessage"), 10);
    EXPECT_EQ(FlagsOf(p), (Flags{1, 1, 0, 0}));
    EXPECT_FALSE(p.MessagePromptOpen());

    // Closed, the next "has" opens one again; a prompt that stays open
    // after its call returned (a front end's non-modal one) still counts.
    host.on_message_prompt = nullptr;
    host.replies = {std::string("xhas"), std::string("xhas")};
    Tick(p, host);
    Tick(p, host);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "message prompt"), 2);
    EXPECT_TRUE(p.MessagePromptOpen());
    p.OnMessagePromptClosed();
    host.replies.push_back(std::string("xhas"));
    Tick(p, host);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "message prompt"), 3);
}

TEST(PollerReentry, UpdatePromptShownOnceEvenWhenNested) {
    FakeHost host;
    Settings s;
    s.interval_time = 0;
    Poller p(host, s);
    host.replies = {std::string("x update"), std::string("x update"), std::string("no socket.")};
    host.on_update_prompt = [&] {
        Tick(p, host);
        Tick(p, host);
    };
    Tick(p, host);
    EXPECT_EQ(host.events, (Events{"update prompt", "icon 134 NetFault"}));
    EXPECT_EQ(FlagsOf(p), (Flags{0, 0, 1, 1}));
}

// ---- the user's attention ----

// Ticks p `ticks` times, calling at(t) before tick t; the ticks that polled.
std::vector<int> PolledTicks(Poller& p, FakeHost& host, int ticks, const std::function<void(int)>& at) {
    std::vector<int> polled;
    for (int t = 1; t <= ticks; ++t) {
        at(t);
        const size_t before = host.urls.size();
        Tick(p, host);
        if (host.urls.size() != before) polled.push_back(t);
    }
    return polled;
}

TEST(PollerAttention, PromptsWaitWhileTheUserCannotBeDisturbedAndComeOnce) {
    FakeHost host;
    Settings s;
    s.interval_time = 0;
    Poller p(host, s);
    host.replies = {std::string("x update"), std::string("xhas"), std::string("xhas")};
    auto run = [&](int ticks, bool free) {
        host.can_disturb = free;  // then "update": the idle answer, nothing new
        PolledTicks(p, host, ticks, [&](int) { if (host.replies.empty()) host.replies.push_back(std::string("x update")); });
    };
    run(6, false);
    EXPECT_EQ(host.events, (Events{"start"}));  // blinking as ever, no prompt
    EXPECT_EQ(FlagsOf(p), (Flags{1, 1, 0, 1}));
    run(1, true);  // free for one tick only: not yet
    run(1, false);
    EXPECT_EQ(host.events, (Events{"start"}));
    run(kUndisturbedTicks, true);
    EXPECT_EQ(host.events, (Events{"start", "message prompt"}));
    run(kUndisturbedTicks + 10, true);
    EXPECT_EQ(host.events, (Events{"start", "message prompt", "update prompt"}));
    EXPECT_FALSE(p.PromptWaiting());
}

TEST(PollerAttention, NoMessagesLeftNoPromptLeft) {
    FakeHost host;
    Settings s;
    s.interval_time = 0;
    Poller p(host, s);
    host.can_disturb = false;
    host.replies = {std::string("xhas"), std::string("no socket.")};
    PolledTicks(p, host, 2, [](int) {});
    EXPECT_TRUE(p.PromptWaiting());  // a failure: the messages may still wait
    PolledTicks(p, host, 1, [&](int) { host.replies.push_back(std::string("ok")); });
    EXPECT_FALSE(p.PromptWaiting());  // a plain reply: they do not
    host.can_disturb = true;
    PolledTicks(p, host, 5, [](int) {});
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "message prompt"), 0);
}

TEST(PollerWake, PollsSoonAfterAWakeAndTheIntervalCountsFromIt) {
    FakeHost host;
    Settings s;
    s.interval_time = 60;
    Poller p(host, s);
    // Windows reports a wake twice; a report's own tick counts.
    const std::vector<int> polled = PolledTicks(p, host, 7310, [&](int t) { if (t == 100 || t == 101) p.OnWake(); });
    const int wake_poll = 101 + kWakePollDelayTicks - 1;
    EXPECT_EQ(polled, (std::vector<int>{wake_poll, wake_poll + 3600, wake_poll + 7200}));
}

// The ticks that polled with interval_time 60, a wake before tick 1 (a
// first poll, which gets the reply) and network changes before `changes`.
std::vector<int> NetworkPolls(const std::string& reply, const std::vector<int>& changes, int ticks) {
    FakeHost host;
    Settings s;
    s.interval_time = 60;
    Poller p(host, s);
    p.OnWake();
    return PolledTicks(p, host, ticks, [&](int t) {
        if (std::find(changes.begin(), changes.end(), t) != changes.end()) p.OnNetworkChanged();
        host.replies.push_back(reply);
    });
}

TEST(PollerNetwork, AFailedStateIsPolledAgainAtMostOnceAMinute) {
    const int w = kWakePollDelayTicks, n = kNetworkSettleTicks - 1;
    EXPECT_EQ(NetworkPolls("ok", {20, 40}, 200), (std::vector<int>{w}));  // nothing failed
    // A burst of changes: one poll once they have settled.
    EXPECT_EQ(NetworkPolls("no socket.", {20, 21}, 70), (std::vector<int>{w, 21 + n}));
    // A change within the minute after such a poll waits for the minute.
    EXPECT_EQ(NetworkPolls("no socket.", {20, 40, 200}, 250),
              (std::vector<int>{w, 20 + n, 20 + n + kNetworkPollMinTicks, 200 + n}));
}

// ---- reply text ----

std::string Collect(const std::vector<std::string>& chunks) {
    ReplyText r;
    for (const std::string& c : chunks) r.Feed(c.data(), c.size());
    return r.Finish();
}

TEST(ReplyText, LinesGetCrLf) {
    const struct {
        std::vector<std::string> chunks;
        std::string text;
    } cases[] = {
        {{"a\n\nb\n"}, "a\r\n\r\nb\r\n"},
        {{"a\r\n\r\nb\r\n"}, "a\r\n\r\nb\r\n"},
        {{"a\n\nb"}, "a\r\n\r\nb\r\n"},
        {{}, ""},
        {{""}, ""},
        {{"\n"}, "\r\n"},
        {{"a\rb\n"}, "a\rb\r\n"},
        {{"a\r\r\n"}, "a\r\r\n"},
        {{"a\r"}, "a\r\r\n"},  // a CR not before a LF stays
        {{"a\r", "\nb"}, "a\r\nb\r\n"},
        {{"a", "\r", "", "\n", "b\r", "\r\n"}, "a\r\nb\r\r\n"},
        {{std::string("x\0y\n", 4)}, std::string("x\0y\r\n", 5)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Collect(c.chunks), c.text);
    }
    // Byte by byte gives the same as one chunk.
    const std::string body = "no socket.\r\n\r\nhas\rx\r\n\r\r\nend";
    std::vector<std::string> bytes;
    for (char ch : body) bytes.emplace_back(1, ch);
    EXPECT_EQ(Collect(bytes), Collect({body}));
}

TEST(ReplyText, StopsAfterOneHundredLines) {
    std::string body, first_hundred;
    for (int i = 0; i < 150; ++i) {
        body += "line" + std::to_string(i) + "\n";
        if (i < 100) first_hundred += "line" + std::to_string(i) + "\r\n";
    }
    ReplyText r;
    EXPECT_FALSE(r.Feed(body.data(), body.size()));
    EXPECT_TRUE(r.Done());
    EXPECT_FALSE(r.Feed("more\n", 5));
    EXPECT_EQ(r.Finish(), first_hundred);

    ReplyText exact;  // a tail after the 100th line feed is not a 101st line
    std::string hundred;
    for (int i = 0; i < 100; ++i) hundred += "x\n";
    EXPECT_FALSE(exact.Feed(hundred.data(), hundred.size()));
    exact.Feed("tail", 4);
    EXPECT_EQ(exact.Finish().size(), 300u);
}

TEST(ReplyText, CapsLongLines) {
    const size_t K = ReplyText::kMaxReplyLine;
    const std::string x(K, 'x');
    const struct {
        std::vector<std::string> chunks;
        std::string text;
    } cases[] = {
        {{std::string(3 * K, 'x') + "\nnext\n"}, x + "\r\nnext\r\n"},
        {{x + "\r\n"}, x + "\r\n"},
        {{x, "\r", "\n"}, x + "\r\n"},
        {{x + "y\r\n"}, x + "\r\n"},
        {{x.substr(1) + "\r" + "y\n"}, x.substr(1) + "\r\r\n"},  // that CR is kept, y is cut
        {{x.substr(1) + "\r\n"}, x.substr(1) + "\r\n"},
        {{x + "abc"}, x + "\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Collect(c.chunks), c.text);
    }
}

TEST(ReplyText, StopsAtTheByteCap) {
    const size_t kCap = ReplyText::kMaxReplyBytes;
    // 17 lines of 60000 bytes fit, the 18th is cut by the byte cap and kept.
    const std::string line = std::string(59999, 'x') + "\n";
    ReplyText r;
    bool wanted = true;
    int fed = 0;
    while (wanted && fed < 20) {
        wanted = r.Feed(line.data(), line.size());
        ++fed;
    }
    EXPECT_EQ(fed, 18);
    EXPECT_TRUE(r.Done());
    const std::string text = r.Finish();
    const size_t partial = kCap - 17 * 60000;
    EXPECT_EQ(text.size(), 17 * (59999 + 2) + partial + 2);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

    ReplyText endless;  // one line without end
    const std::string big(kCap + 10, 'y');
    EXPECT_FALSE(endless.Feed(big.data(), big.size()));
    EXPECT_EQ(endless.Finish(), std::string(ReplyText::kMaxReplyLine, 'y') + "\r\n");
}

}  // namespace
}  // namespace orlimo
