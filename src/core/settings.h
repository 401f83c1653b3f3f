// The settings record, the settings file format and the favorites list.
// Portable: byte strings only, no OS calls. The file is 8-bit text in the
// system's ANSI code page; nothing here converts it.
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

// The byte-order mark that an editor's "UTF-8" writes before the text.
// The reader skips it; which encoding the rest is in is the front end's
// business (text stays bytes here).
inline const char kUtf8Mark[] = "\xEF\xBB\xBF";
bool HasUtf8Mark(const std::string& text);

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

// ---- the shared file and a user's own values ----
//
// A user's file starts as a copy of the shared file. Later changes of the
// shared file reach the user for every value the user has not set: the
// front ends keep, beside the user's file, a copy of the shared file as the
// user's values were last brought in line with it (the base), and a value
// of the user's that equals the base's is not the user's own.

bool SameSettings(const Settings& a, const Settings& b);

// The values of a shared settings file, when it is one: it holds a
// "server=" line with a value (else it is empty, garbage, or in an encoding
// such as UTF-16 that this format cannot be read in, and it changes
// nothing for anyone). Values it does not name are the defaults.
std::optional<Settings> SharedSettingsValues(const std::string& text);

// The values in force for a user whose own file holds `user`: each of the
// five that equals `base`'s follows `shared`; every other one is the
// user's own and stays.
Settings FollowShared(const Settings& user, const Settings& base, const Settings& shared);

// The five-line file the writer produces, with CR LF line ends, from the
// given values and the bookmark text.
std::string FormatSettingsFile(const std::string& server, int32_t user_id, int32_t interval_time,
                               int32_t server_port, const std::string& bookmark);

}  // namespace orlimo
