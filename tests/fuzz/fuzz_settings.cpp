// The settings file: the streaming reader fed in chunks of any size agrees
// with the whole file at once and with a plain line splitter; what the
// writer writes reads back as the same five values; the number rules agree
// with references of their own; the installer's file reads back as the
// values it was given; following the shared file takes only what the
// limits accept, and a second run changes nothing.
//
// Input: the file's bytes, then 4 bytes that choose the chunk sizes and
// whether the installer check has an existing file.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/deploy.h"
#include "core/limits.h"
#include "core/managed.h"
#include "core/settings.h"
#include "fuzz_util.h"

using namespace orlimo;
using orlimo_fuzz::Chunker;
using orlimo_fuzz::Decimal;

namespace {

struct Loaded {
    Settings settings;
    BookmarkList bookmarks;
};

bool SameValues(const Settings& a, const Settings& b) {
    return a.server == b.server && a.user_id == b.user_id && a.interval_time == b.interval_time &&
           a.server_port == b.server_port && a.bookmark == b.bookmark;
}

bool Same(const Loaded& a, const Loaded& b) {
    return SameValues(a.settings, b.settings) && a.bookmarks.Entries() == b.bookmarks.Entries();
}

// Values no file of the tests holds, so that a value the reader failed to
// set shows.
Loaded Prefilled() {
    Loaded l;
    l.settings.server = "prefilled.invalid";
    l.settings.user_id = 1234567;
    l.settings.interval_time = -7654321;
    l.settings.server_port = 99999;
    l.settings.bookmark = "prefilled|=";
    return l;
}

// The file split into lines the plain way: a UTF-8 mark at its start
// dropped, then at each LF, a CR before it dropped; a non-empty rest
// without LF is a line as it stands.
std::vector<std::string> PlainLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (;;) {
        const size_t lf = text.find('\n', start);
        if (lf == std::string::npos) {
            if (start < text.size()) lines.push_back(text.substr(start));
            return lines;
        }
        std::string line = text.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = lf + 1;
    }
}

int32_t Wrap32(uint64_t bits) {
    const uint32_t low = static_cast<uint32_t>(bits);
    int32_t out;
    std::memcpy(&out, &low, sizeof out);
    return out;
}

// The dialog's rule, written out: [ \t]* [+-]? [0-9]+ [ \t]* and within 32 bits.
std::optional<int32_t> DialogReference(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return std::nullopt;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    const size_t digits_start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits_start) return std::nullopt;
    std::string digits = text.substr(digits_start, i - digits_start);
    if (text.find_first_not_of(" \t", i) != std::string::npos) return std::nullopt;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    if (digits.size() > 10) return std::nullopt;
    int64_t v = std::strtoll(digits.c_str(), nullptr, 10);
    if (negative) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(v);
}

void CheckNumberRules(const std::string& text) {
    const int32_t atoi_value = AtoiRule(text);

    // atoi's own reading where it cannot overflow: at most 18 digits after
    // the white space and sign (strtoll stops at a NUL as atoi does).
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    const char* q = p + ((*p == '+' || *p == '-') ? 1 : 0);
    if (std::strspn(q, "0123456789") <= 18) {
        const long long v = std::strtoll(p, nullptr, 10);
        FUZZ_CHECK(atoi_value == Wrap32(static_cast<uint64_t>(v)));
    }

    int32_t dialog_value = 424242;
    const bool accepted = ParseDialogInteger(text, &dialog_value);
    const std::optional<int32_t> expected = DialogReference(text);
    FUZZ_CHECK(accepted == expected.has_value());
    if (accepted) {
        FUZZ_CHECK(dialog_value == *expected);
        FUZZ_CHECK(dialog_value == atoi_value);
    } else {
        FUZZ_CHECK(dialog_value == 424242);
    }

    // Every 32-bit value survives its own decimal text under both rules.
    int32_t again = 0;
    FUZZ_CHECK(ParseDialogInteger(Decimal(atoi_value), &again) && again == atoi_value);
    FUZZ_CHECK(AtoiRule(Decimal(atoi_value)) == atoi_value);
}

// Writes the five values and reads them back into a record that held others.
void CheckRoundTrip(const Settings& s) {
    const std::string file =
        FormatSettingsFile(s.server, s.user_id, s.interval_time, s.server_port, s.bookmark);
    Loaded back = Prefilled();
    ApplySettingsText(file, &back.settings, &back.bookmarks);
    FUZZ_CHECK(SameValues(back.settings, s));
    BookmarkList split;
    split.SplitBookmarks(s.bookmark);
    FUZZ_CHECK(back.bookmarks.Entries() == split.Entries());
    FUZZ_CHECK(FormatSettingsFile(back.settings.server, back.settings.user_id,
                                  back.settings.interval_time, back.settings.server_port,
                                  back.settings.bookmark) == file);
}

// The installer's file: given values win, then the existing file's, then
// the defaults; whatever is written reads back as exactly that.
void CheckDeploy(const std::optional<std::string>& existing, const std::vector<std::string>& lines) {
    DeployValues given;
    std::string* fields[] = {&given.server, &given.port, &given.interval, &given.user_id,
                             &given.bookmarks};
    for (size_t i = 0; i < 5 && i < lines.size(); ++i) *fields[i] = lines[i];
    const DeployResult result = DeploySettings(existing, given);
    if (result.error != DeployError::None) {
        FUZZ_CHECK(!result.file);
        return;
    }
    Loaded base;
    if (existing) ApplySettingsText(*existing, &base.settings, &base.bookmarks);
    if (!result.file) {
        FUZZ_CHECK(existing && !given.AnyGiven());
        return;
    }
    size_t line_ends = 0;
    for (char c : *result.file) line_ends += c == '\n';
    FUZZ_CHECK(line_ends == 5);

    Loaded back = Prefilled();
    ApplySettingsText(*result.file, &back.settings, &back.bookmarks);
    const Settings& got = back.settings;
    FUZZ_CHECK(got.server == (given.server.empty() ? base.settings.server : given.server));
    FUZZ_CHECK(!got.server.empty());
    FUZZ_CHECK(got.bookmark == (given.bookmarks.empty() ? base.settings.bookmark : given.bookmarks));
    FUZZ_CHECK(got.server_port ==
               (given.port.empty() ? base.settings.server_port : AtoiRule(given.port)));
    FUZZ_CHECK(got.interval_time ==
               (given.interval.empty() ? base.settings.interval_time : AtoiRule(given.interval)));
    FUZZ_CHECK(got.user_id == (given.user_id.empty() ? base.settings.user_id : AtoiRule(given.user_id)));
    if (!given.port.empty()) FUZZ_CHECK(NumberRefusal(Limit("server_port"), got.server_port).empty());
    if (!given.interval.empty()) FUZZ_CHECK(NumberRefusal(Limit("interval_time"), got.interval_time).empty());
    if (!given.user_id.empty()) FUZZ_CHECK(got.user_id >= 0);
    // A host, alone or after "https://" (then not empty).
    const bool tls = given.server.compare(0, 8, "https://") == 0;
    const std::string host = tls ? given.server.substr(8) : given.server;
    if (tls) FUZZ_CHECK(!host.empty());
    for (unsigned char c : host) FUZZ_CHECK(c >= 0x20 && c != 0x7F && !std::strchr(" /\\?#", c));
    for (unsigned char c : given.bookmarks) FUZZ_CHECK(c >= 0x20 && c != 0x7F);
}

// A native encoding of ASCII alone: every other text fails to convert, so
// that the merge's ways out (UTF-8 with the mark, a value not taken) run.
struct AsciiOnly : TextConverter {
    static std::optional<std::string> Same(const std::string& t) { return IsAscii(t) ? std::optional(t) : std::nullopt; }
    std::optional<std::string> NativeToUtf8(const std::string& t) const override { return Same(t); }
    std::optional<std::string> Utf8ToNative(const std::string& t) const override { return Same(t); }
    FileEncoding AsciiFileEncoding() const override { return FileEncoding::Native; }
};

// The input cut in three at its first two NUL-free "\n--\n": the user's
// file, the record, the shared file.
void CheckFollow(const std::string& text) {
    std::string parts[3];
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t cut = i < 2 ? text.find("\n--\n", at) : std::string::npos;
        parts[i] = text.substr(at, cut == std::string::npos ? std::string::npos : cut - at);
        if (cut == std::string::npos) break;
        at = cut + 4;
    }
    const AsciiOnly converter;
    const FollowResult first = FollowSharedFile({parts[0], parts[1], std::nullopt, parts[2], "shared"}, converter);
    if (!first.user) return;
    Settings before, after;
    BookmarkList unused;
    ApplySettingsText(parts[0], &before, &unused);
    ApplySettingsText(*first.user, &after, &unused);
    // A number that changed is one the limits accept; so is a text that
    // changed its meaning, not only its encoding.
    for (const SettingField& f : kSettingFields) {
        if (f.number && before.*f.number != after.*f.number) FUZZ_CHECK(FieldRefusal(f, after).empty());
        if (f.text && IsAscii(after.*f.text) && before.*f.text != after.*f.text) FUZZ_CHECK(FieldRefusal(f, after).empty());
    }
    const FollowResult second =
        FollowSharedFile({*first.user, first.record ? first.record : parts[1], std::nullopt, parts[2], "shared"}, converter);
    FUZZ_CHECK(!second.user);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint32_t seed = in.ConsumeIntegral<uint32_t>();  // from the input's end
    const std::string text = in.ConsumeRemainingBytesAsString();

    Loaded whole;
    ApplySettingsText(text, &whole.settings, &whole.bookmarks);

    Loaded chunked;
    {
        SettingsReader reader(&chunked.settings, &chunked.bookmarks);
        Chunker chunker(seed);
        size_t at = 0;
        while (at < text.size()) {
            const size_t n = chunker.Next(text.size() - at);
            reader.Feed(text.data() + at, n);
            at += n;
        }
        reader.Finish();
    }
    FUZZ_CHECK(Same(chunked, whole));

    const std::vector<std::string> lines = PlainLines(text);
    Loaded plain;
    for (const std::string& line : lines) ApplySettingsLine(line, &plain.settings, &plain.bookmarks);
    FUZZ_CHECK(Same(plain, whole));

    // The favorites list is the split of the last bookmark line, or empty
    // when there was none.
    if (whole.bookmarks.Entries().empty()) {
        FUZZ_CHECK(whole.settings.bookmark.empty());
    } else {
        BookmarkList split;
        split.SplitBookmarks(whole.settings.bookmark);
        FUZZ_CHECK(whole.bookmarks.Entries() == split.Entries());
    }

    // A value the reader produced never holds a LF, so the writer can
    // represent every one of them, CRs and NULs included.
    CheckRoundTrip(whole.settings);

    // Values straight from the input: the bytes without LF as server and
    // favorites, the seed's bits as the numbers.
    std::string bytes;
    for (char c : text)
        if (c != '\n') bytes.push_back(c);
    Settings direct;
    direct.server = bytes.substr(0, bytes.size() / 2);
    direct.bookmark = bytes.substr(bytes.size() / 2);
    direct.user_id = Wrap32(seed);
    direct.interval_time = Wrap32(~seed);
    direct.server_port = Wrap32(uint64_t{seed} * 2654435761u);
    CheckRoundTrip(direct);

    for (size_t i = 0; i < lines.size() && i < 32; ++i) {
        CheckNumberRules(lines[i]);
        const size_t eq = lines[i].find('=');
        if (eq != std::string::npos) CheckNumberRules(lines[i].substr(eq + 1));
    }

    CheckDeploy((seed & 0x80000000u) ? std::optional<std::string>(text) : std::nullopt, lines);

    CheckFollow(text);
    return 0;
}
