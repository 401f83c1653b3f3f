// The server's reply: the collector keeps within its caps (100 lines, a
// line's first 64 KiB, 1 MiB read) and, however the body is chunked, gives
// the text of a plain reading of the whole body; the mark scan agrees with
// a plain search.
//
// Input: a body description, then 4 bytes that choose the chunk sizes.
// The description is mostly the body itself; two escapes reach the caps
// with small inputs, each adding at most 65537 bytes (one past the line
// cap), so that only inputs made for it reach the 1 MiB limit and random
// ones stay fast:
//   0x01 c hi lo    the byte c, 2 + (hi << 8 | lo) times
//   0x02 len hi lo  the last len bytes of the body so far, (hi << 8 | lo) more times
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "core/poller.h"
#include "fuzz_util.h"

using namespace orlimo;
using orlimo_fuzz::Chunker;

namespace {

// Enough to pass the 1 MiB read limit with a line in progress.
constexpr size_t kBodyLimit = ReplyText::kMaxReplyBytes + 2 * ReplyText::kMaxReplyLine;
constexpr size_t kMaxEscape = ReplyText::kMaxReplyLine + 1;

std::string DecodeBody(const std::string& in) {
    std::string body;
    for (size_t i = 0; i < in.size() && body.size() < kBodyLimit; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if ((c != 0x01 && c != 0x02) || i + 3 >= in.size()) {
            body.push_back(in[i]);
            continue;
        }
        const unsigned char arg = static_cast<unsigned char>(in[i + 1]);
        const size_t k = (static_cast<size_t>(static_cast<unsigned char>(in[i + 2])) << 8) |
                         static_cast<unsigned char>(in[i + 3]);
        i += 3;
        if (c == 0x01) {
            body.append(std::min(2 + k, kBodyLimit - body.size()), static_cast<char>(arg));
        } else {
            const size_t len = std::min<size_t>(arg, body.size());
            if (len == 0) continue;
            const std::string unit = body.substr(body.size() - len);
            const size_t limit = std::min(body.size() + kMaxEscape, kBodyLimit);
            for (size_t r = 0; r < k && body.size() < limit; ++r) body += unit;
            if (body.size() > limit) body.resize(limit);
        }
    }
    if (body.size() > kBodyLimit) body.resize(kBodyLimit);
    return body;
}

// The collector's rules applied to the whole body at once.
std::string PlainCollect(const std::string& body) {
    const std::string_view read =
        std::string_view(body).substr(0, ReplyText::kMaxReplyBytes);
    std::string out;
    size_t start = 0;
    for (int lines = 0; lines < ReplyText::kMaxLines; ++lines) {
        const size_t lf = read.find('\n', start);
        std::string_view line;
        if (lf == std::string_view::npos) {
            if (start == read.size()) break;
            line = read.substr(start);  // the last line, a CR at its end kept
        } else {
            line = read.substr(start, lf - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        }
        out += line.substr(0, ReplyText::kMaxReplyLine);
        out += "\r\n";
        if (lf == std::string_view::npos) break;
        start = lf + 1;
    }
    return out;
}

// Each place of the mark's first byte, then byte by byte (memcmp here would
// go through the fuzzer's comparison hooks at every place of a mebibyte).
size_t FirstAt(const std::string& text, const char* mark) {
    const size_t len = std::strlen(mark);
    const char* begin = text.data();
    const char* end = begin + text.size();
    for (const char* p = begin; end - p >= static_cast<ptrdiff_t>(len); ++p) {
        p = static_cast<const char*>(std::memchr(p, mark[0], static_cast<size_t>(end - p)));
        if (!p || end - p < static_cast<ptrdiff_t>(len)) break;
        size_t k = 1;
        while (k < len && p[k] == mark[k]) ++k;
        if (k == len) return static_cast<size_t>(p - begin);
    }
    return std::string::npos;
}

ReplyMark PlainMark(const std::string& text) {
    const struct {
        const char* text;
        ReplyMark mark;
    } marks[] = {{"socket", ReplyMark::Socket}, {"has", ReplyMark::Has}, {"update", ReplyMark::Update}};
    for (const auto& m : marks) {
        const size_t at = FirstAt(text, m.text);
        if (at != std::string::npos && at >= 1) return m.mark;
    }
    return ReplyMark::None;
}

void CheckCaps(const std::string& text) {
    size_t lines = 0, content = 0, start = 0;
    while (start < text.size()) {
        const size_t lf = text.find('\n', start);
        FUZZ_CHECK(lf != std::string::npos);  // every line ends with "\r\n"
        FUZZ_CHECK(lf > start && text[lf - 1] == '\r');
        const size_t length = lf - 1 - start;
        FUZZ_CHECK(length <= ReplyText::kMaxReplyLine);
        content += length;
        ++lines;
        start = lf + 1;
    }
    FUZZ_CHECK(lines <= static_cast<size_t>(ReplyText::kMaxLines));
    FUZZ_CHECK(content <= ReplyText::kMaxReplyBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint32_t seed = in.ConsumeIntegral<uint32_t>();  // from the input's end
    const std::string raw = in.ConsumeRemainingBytesAsString();
    const std::string body = DecodeBody(raw);

    // Fed in chunks as a fetch delivers them (all at once is one of the
    // chunkings), the result must be the plain reading of the whole body.
    ReplyText chunked;
    Chunker chunker(seed);
    size_t at = 0;
    bool wants_more = true;
    while (at < body.size() && wants_more) {
        const size_t n = chunker.Next(body.size() - at);
        wants_more = chunked.Feed(body.data() + at, n);
        at += n;
    }
    if (!wants_more && at < body.size()) {
        // Input after the collector said it was done changes nothing.
        FUZZ_CHECK(!chunked.Feed(body.data() + at, body.size() - at));
    }
    const std::string text = chunked.Finish();
    FUZZ_CHECK(chunked.Done());
    FUZZ_CHECK(text == PlainCollect(body));
    CheckCaps(text);

    FUZZ_CHECK(FindReplyMark(raw) == PlainMark(raw));
    FUZZ_CHECK(FindReplyMark(text) == PlainMark(text));
    return 0;
}
