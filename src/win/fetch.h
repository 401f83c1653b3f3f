// The text behind one web address, over WinINet, within a fixed deadline.
#pragma once
#include <optional>
#include <string>

namespace orlimo {

// The whole call, opening and reading, ends within this many milliseconds
// (plus at most kFetchCloseGraceMs while the handles are torn down).
constexpr unsigned kFetchDeadlineMs = 8000;
constexpr unsigned kFetchCloseGraceMs = 1000;

inline const char kNoSocket[] = "no socket.";

class CUrlTextFetcher {
public:
    virtual ~CUrlTextFetcher() = default;
    // The reply body's first 100 lines, each followed by "\r\n"; exactly
    // "no socket." when the request could not be made (or no reply came
    // before the deadline); nothing when reading the body failed or stalled.
    // Blocks the calling thread and dispatches no messages.
    std::optional<std::string> FetchUrlText(std::string url);
};

}  // namespace orlimo
