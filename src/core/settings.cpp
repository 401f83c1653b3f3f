#include "core/settings.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace orlimo {
namespace {

// The value of a 32-bit pattern as a two's complement int32_t, without
// relying on implementation-defined narrowing.
int32_t FromBits(uint32_t bits) {
    if (bits <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        return static_cast<int32_t>(bits);
    }
    return static_cast<int32_t>(bits - 0x80000000u) + std::numeric_limits<int32_t>::min();
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t AtoiRule(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps modulo 2^32 as it goes, so any number of
    // digits is fine and the result is the 32-bit wrap of the true value.
    uint32_t value = 0;
    while (i < text.size() && IsDigit(text[i])) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
        ++i;
    }
    if (negative) value = 0u - value;
    return FromBits(value);
}

bool ParseDialogInteger(const std::string& text, int32_t* value) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;  // |INT32_MIN|
    int64_t magnitude = 0;
    bool too_big = false;
    size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        if (!too_big) {
            magnitude = magnitude * 10 + (text[i] - '0');
            if (magnitude > limit) too_big = true;
        }
        ++digits;
        ++i;
    }
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (digits == 0 || i != text.size() || too_big) return false;
    const int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > std::numeric_limits<int32_t>::max()) return false;
    *value = static_cast<int32_t>(signed_value);
    return true;
}

void BookmarkList::SplitBookmarks(const std::string& value) {
    entries_.clear();
    std::string rest = value;
    int count = 0;
    for (;;) {
        const size_t eq = rest.find('=');
        if (eq == std::string::npos || count == 20) break;
        ++count;
        entries_.push_back(rest.substr(0, eq));
        rest = rest.substr(eq + 1);
    }
    // The remainder is the last entry; a value without "=" is its one entry.
    entries_.push_back(rest);
}

std::string BookmarkList::GetBookmarkEntry(int32_t n) const {
    if (n < 1) n = 1;
    const size_t index = static_cast<size_t>(n) - 1;
    if (index >= entries_.size()) return std::string();
    return entries_[index];
}

std::string BookmarkList::GetBookmarkCaption(int32_t n) const {
    const std::string entry = GetBookmarkEntry(n);
    const size_t bar = entry.find('|');
    if (bar == std::string::npos) return std::string();
    return entry.substr(0, bar);
}

std::string BookmarkList::GetBookmarkUrl(int32_t n) const {
    const std::string entry = GetBookmarkEntry(n);
    const size_t bar = entry.find('|');
    if (bar == std::string::npos) return std::string();
    return entry.substr(bar + 1);
}

void ApplySettingsLine(const std::string& line, Settings* settings, BookmarkList* bookmarks) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "server") {
        settings->server = value;
    } else if (key == "user_id") {
        settings->user_id = AtoiRule(value);
    } else if (key == "interval_time") {
        settings->interval_time = AtoiRule(value);
    } else if (key == "server_port") {
        settings->server_port = AtoiRule(value);
    } else if (key == "bookmark") {
        settings->bookmark = value;
        bookmarks->SplitBookmarks(value);
    }
}

bool HasUtf8Mark(const std::string& text) { return text.compare(0, 3, kUtf8Mark) == 0; }

void SettingsReader::Apply() {
    // Only the file's first line can begin with the mark.
    if (first_line_ && HasUtf8Mark(line_)) line_.erase(0, 3);
    first_line_ = false;
    ApplySettingsLine(line_, settings_, bookmarks_);
    line_.clear();
}

void SettingsReader::Feed(const char* data, size_t size) {
    const char* p = data;
    const char* end = data + size;
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!lf) {
            line_.append(p, end);
            return;
        }
        line_.append(p, lf);
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        Apply();
        p = lf + 1;
    }
}

void SettingsReader::Finish() {
    // Not ended by a LF: a CR here is not a line end and stays.
    if (!line_.empty()) Apply();
}

void ApplySettingsText(const std::string& text, Settings* settings, BookmarkList* bookmarks) {
    SettingsReader reader(settings, bookmarks);
    reader.Feed(text.data(), text.size());
    reader.Finish();
}

bool SameSettings(const Settings& a, const Settings& b) {
    return a.server == b.server && a.user_id == b.user_id && a.interval_time == b.interval_time &&
           a.server_port == b.server_port && a.bookmark == b.bookmark;
}

std::optional<Settings> SharedSettingsValues(const std::string& text) {
    Settings s;
    s.server.clear();
    BookmarkList unused;
    ApplySettingsText(text, &s, &unused);
    if (s.server.empty()) return std::nullopt;
    return s;
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

bool IsValidUtf8(const std::string& text) {
    const size_t n = text.size();
    size_t i = 0;
    auto byte = [&text](size_t at) { return static_cast<unsigned char>(text[at]); };
    while (i < n) {
        const unsigned char c = byte(i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t more;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0) low = 0xA0;       // no overlong forms
            if (c == 0xED) high = 0x9F;      // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;      // at most U+10FFFF
        } else {
            return false;
        }
        if (n - i - 1 < more) return false;  // cut off at the end
        if (byte(i + 1) < low || byte(i + 1) > high) return false;
        for (size_t k = 2; k <= more; ++k)
            if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return false;
        i += more + 1;
    }
    return true;
}

FileEncoding DetectEncoding(const std::string& bytes) {
    if (HasUtf8Mark(bytes)) return FileEncoding::Utf8WithMark;
    if (!IsAscii(bytes) && IsValidUtf8(bytes)) return FileEncoding::Utf8;
    return FileEncoding::Native;
}

std::optional<std::string> Recode(const std::string& text, FileEncoding from, FileEncoding to,
                                  const TextConverter& converter) {
    if (IsUtf8Encoding(from) == IsUtf8Encoding(to) || IsAscii(text)) return text;
    return IsUtf8Encoding(to) ? converter.NativeToUtf8(text) : converter.Utf8ToNative(text);
}

std::string FormatSettingsFile(const std::string& server, int32_t user_id, int32_t interval_time,
                               int32_t server_port, const std::string& bookmark) {
    std::string out;
    out += "server=" + server + "\r\n";
    out += "user_id=" + std::to_string(user_id) + "\r\n";
    out += "interval_time=" + std::to_string(interval_time) + "\r\n";
    out += "server_port=" + std::to_string(server_port) + "\r\n";
    out += "bookmark=" + bookmark + "\r\n";
    return out;
}

std::string SettingsFileBytes(const Settings& v, FileEncoding encoding) {
    return (encoding == FileEncoding::Utf8WithMark ? std::string(kUtf8Mark) : std::string()) +
           FormatSettingsFile(v.server, v.user_id, v.interval_time, v.server_port, v.bookmark);
}

}  // namespace orlimo
