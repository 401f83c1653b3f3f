// The settings record, the settings file format and the favorites list.
// Portable: byte strings only, no OS calls. The file is 8-bit text in the
// system's ANSI code page; nothing here converts it.
#pragma once
#include <cstdint>
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

// Applies one line of the settings file (without its line end).
void ApplySettingsLine(const std::string& line, Settings* settings, BookmarkList* bookmarks);

// Reads a settings file's bytes as they come, in chunks of any size: lines
// end at LF, a CR before the LF is dropped, a last line without a line end
// counts (a CR at its end stays), NUL bytes are kept as ordinary bytes of
// their line. Each line is applied when it is complete, so memory stays at
// the longest line.
class SettingsReader {
public:
    SettingsReader(Settings* settings, BookmarkList* bookmarks) : settings_(settings), bookmarks_(bookmarks) {}
    void Feed(const char* data, size_t size);
    // The end of the file: applies a last line without line end.
    void Finish();

private:
    Settings* settings_;
    BookmarkList* bookmarks_;
    std::string line_;
};

// The whole file's bytes at once, through SettingsReader.
void ApplySettingsText(const std::string& text, Settings* settings, BookmarkList* bookmarks);

// The five-line file the writer produces, with CR LF line ends, from the
// given values and the bookmark text.
std::string FormatSettingsFile(const std::string& server, int32_t user_id, int32_t interval_time,
                               int32_t server_port, const std::string& bookmark);

}  // namespace orlimo
