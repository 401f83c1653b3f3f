// The text behind one web address, over WinINet (loaded from the system
// folder at run time, never imported), on a worker thread within a fixed
// deadline. An https:// address goes over TLS with the certificate
// checked against the system's trusted roots; nothing is ever ignored.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace orlimo {

// A fetch that has no result by then is given up: its handles are closed.
// WinINet's own connect, send and receive time-outs are the same, so a
// blocked call ends by itself where WinINet keeps them.
constexpr unsigned kFetchDeadlineMs = 30000;

// Where a poll that could not be made says why: one line a failure, in
// orlimo.log in the user's settings folder (%APPDATA%\orlimo\), a line only
// when the reason differs from the last one written, the file started over
// beyond 64 KiB.
inline const char kFetchLogName[] = "orlimo.log";

// One line in the same log, "time text", whatever was written before: an
// administrator's value that was refused, a settings file that could not be
// written.
void WriteLogLine(const std::string& text);

struct FetchState;

// Runs one fetch at a time beside the caller's thread. The calls below are
// made from one thread (the user interface's); none of them waits for the
// network.
class CUrlTextFetcher {
public:
    CUrlTextFetcher() = default;
    CUrlTextFetcher(const CUrlTextFetcher&) = delete;
    CUrlTextFetcher& operator=(const CUrlTextFetcher&) = delete;
    virtual ~CUrlTextFetcher();

    // Starts fetching url and returns at once. When the worker is done,
    // `message` is posted to `notify` (when given) with the fetch's number
    // as wParam. False when nothing was started: a fetch is running, the
    // worker of an earlier one has not ended yet (Wine's WinINet can stay
    // blocked after its handles were closed; one such worker at a time), or
    // WinINet cannot be loaded from the system folder (the reason goes to
    // the log).
    bool Start(std::string url, HWND notify = nullptr, UINT message = 0);
    bool Running() const { return state_ != nullptr; }
    unsigned Number() const { return number_; }

    // Ends the running fetch and returns its result: the reply body's first
    // 100 lines, each followed by "\r\n"; exactly "no socket." when the
    // request could not be opened (or was not by now); nothing when reading
    // the body failed or has not ended by now. A worker that is not done is
    // abandoned: its handles are closed and it is not waited for.
    std::optional<std::string> Finish();

    // Start, wait (without dispatching messages) until the worker is done or
    // the deadline has passed, Finish.
    std::optional<std::string> FetchUrlText(std::string url);

private:
    FetchState* state_ = nullptr;
    unsigned number_ = 0;
};

}  // namespace orlimo
