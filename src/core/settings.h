// The settings record, the settings file format and the favorites list.
// Portable: byte strings only, no OS calls. The file's text stays in the
// file's own encoding (see DetectEncoding); nothing here converts it, and
// conversions elsewhere go through a TextConverter that a front end gives.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orlimo {

struct Settings {
    std::string server = ORLIMO_DEFAULT_SERVER;
    int32_t user_id = 0;
    int32_t interval_time = 1;
    int32_t server_port = 80;
    std::string bookmark;  // raw favorites value, written back unchanged
};

// The C library's atoi rule without its undefined overflow: leading white
// space, optional sign, decimal digits up to the first other character;
// no digits gives 0. Values outside 32 bits wrap as a 32-bit int would.
int32_t AtoiRule(const std::string& text);

// The settings dialog's integer rule: optional blanks, optional sign,
// digits, optional blanks and nothing else. Returns false (and leaves
// *value alone) for anything else, the empty text included.
bool ParseDialogInteger(const std::string& text, int32_t* value);

// The favorites entries split out of a bookmark value (at most 21 entries,
// see SplitBookmarks). Entry numbers are 1-based.
class BookmarkList {
public:
    void SplitBookmarks(const std::string& value);
    void Clear() { entries_.clear(); }
    const std::vector<std::string>& Entries() const { return entries_; }
    // n below 1 counts as 1; n past the end gives the empty text.
    std::string GetBookmarkEntry(int32_t n) const;
    // Before / after the entry's first "|"; empty when it holds none.
    std::string GetBookmarkCaption(int32_t n) const;
    std::string GetBookmarkUrl(int32_t n) const;

private:
    std::vector<std::string> entries_;
};

// ---- the file's encoding ----
//
// The byte-order mark that an editor's "UTF-8" writes before the text. The
// reader skips it.
inline const char kUtf8Mark[] = "\xEF\xBB\xBF";
bool HasUtf8Mark(const std::string& text);

// How a settings file's text is written. The lines, keys and favorites'
// separators are found in the bytes whatever it is (UTF-8 never uses a byte
// below 0x80 inside a character); only text shown to the user or handed to
// the system is converted.
//   Utf8WithMark  the file begins with the mark (an editor's "UTF-8");
//   Utf8          no mark, valid UTF-8 and at least one byte above 0x7F
//                 (Notepad's "UTF-8" since Windows 10 1903);
//   Native        anything else: the front end's 8-bit encoding (the ANSI
//                 code page on Windows, GB18030 on Linux), as files always
//                 were. A file of ASCII alone is Native: it reads the same
//                 in every encoding.
enum class FileEncoding { Utf8WithMark, Utf8, Native };
FileEncoding DetectEncoding(const std::string& bytes);
inline bool IsUtf8Encoding(FileEncoding e) { return e != FileEncoding::Native; }
// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF; a
// sequence cut off at the end is not UTF-8).
bool IsValidUtf8(const std::string& text);
bool IsAscii(const std::string& text);

// Conversions that only a front end can make. Each gives nothing when the
// text cannot be said in the other encoding without loss.
class TextConverter {
public:
    virtual ~TextConverter() = default;
    virtual std::optional<std::string> NativeToUtf8(const std::string& text) const = 0;
    virtual std::optional<std::string> Utf8ToNative(const std::string& text) const = 0;
    // Where non-ASCII text goes in a file that holds ASCII alone so far
    // (Native on Windows, as the program always wrote; UTF-8 on Linux).
    virtual FileEncoding AsciiFileEncoding() const = 0;
};

// text (in `from`) in `to`; nothing when it cannot be said there. The two
// UTF-8 forms differ only in the file's mark, not in their text.
std::optional<std::string> Recode(const std::string& text, FileEncoding from, FileEncoding to,
                                  const TextConverter& converter);

// Applies one line of the settings file (without its line end).
void ApplySettingsLine(const std::string& line, Settings* settings, BookmarkList* bookmarks);

// Reads a settings file's bytes as they come, in chunks of any size: a
// UTF-8 byte-order mark at the very start is skipped, lines end at LF, a CR
// before the LF is dropped, a last line without a line end counts (a CR at
// its end stays), NUL bytes are kept as ordinary bytes of their line. Each line is applied when it is complete, so memory stays at
// the longest line.
class SettingsReader {
public:
    SettingsReader(Settings* settings, BookmarkList* bookmarks) : settings_(settings), bookmarks_(bookmarks) {}
    void Feed(const char* data, size_t size);
    // The end of the file: applies a last line without line end.
    void Finish();

private:
    void Apply();
    Settings* settings_;
    BookmarkList* bookmarks_;
    std::string line_;
    bool first_line_ = true;
};

// The whole file's bytes at once, through SettingsReader.
void ApplySettingsText(const std::string& text, Settings* settings, BookmarkList* bookmarks);

// The values of a shared settings file, when it is one: it holds a
// "server=" line with a value (else it is empty, garbage, or in an encoding
// such as UTF-16 that this format cannot be read in, and it changes
// nothing for anyone). Values it does not name are the defaults.
std::optional<Settings> SharedSettingsValues(const std::string& text);

bool SameSettings(const Settings& a, const Settings& b);

// The five-line file the writer produces, with CR LF line ends, from the
// given values and the bookmark text.
std::string FormatSettingsFile(const std::string& server, int32_t user_id, int32_t interval_time,
                               int32_t server_port, const std::string& bookmark);
// The same in an encoding: the text values are its bytes already; UTF-8
// with its mark begins with the mark.
std::string SettingsFileBytes(const Settings& values, FileEncoding encoding);

}  // namespace orlimo
