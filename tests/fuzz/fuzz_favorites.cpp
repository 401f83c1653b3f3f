// The favorites value and its accessors: at most 21 entries that put
// together give the value back, captions and addresses taken from inside
// the value, and the menu's caption and target rules for every place (a
// web address opens when it begins with "http://" or "https://").
//
// Input: the favorites value (the bytes after "bookmark=").
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/portal.h"
#include "core/settings.h"
#include "fuzz_util.h"

using namespace orlimo;

namespace {

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(begin, end - begin);
}

bool Inside(const std::string& part, const std::string& whole) {
    return whole.find(part) != std::string::npos;
}

bool StartsWith(const std::string& whole, const std::string& start) {
    return whole.size() >= start.size() && std::equal(start.begin(), start.end(), whole.begin());
}

void CheckPlace(int32_t n, const BookmarkList& list, const std::string& value) {
    const std::vector<std::string>& entries = list.Entries();
    const std::string entry = list.GetBookmarkEntry(n);
    const size_t index = n < 1 ? 0 : static_cast<size_t>(n) - 1;
    FUZZ_CHECK(entry == (index < entries.size() ? entries[index] : std::string()));

    const std::string caption = list.GetBookmarkCaption(n);
    const std::string url = list.GetBookmarkUrl(n);
    FUZZ_CHECK(Inside(caption, value) && Inside(url, value));
    FUZZ_CHECK(caption.find('|') == std::string::npos);
    if (entry.find('|') == std::string::npos) {
        FUZZ_CHECK(caption.empty() && url.empty());
    } else {
        FUZZ_CHECK(caption + "|" + url == entry);
    }

    const bool place = n >= 1 && n <= kFavoriteCount;
    const std::optional<std::string> target = FavoriteTarget(n, list);
    const std::string address = Trimmed(url);
    if (!place) {
        FUZZ_CHECK(!target);
    } else if (StartsWith(address, "http://") || StartsWith(address, "https://")) {
        FUZZ_CHECK(target && *target == address);
        FUZZ_CHECK(Inside(*target, value));
        FUZZ_CHECK(Trimmed(*target) == *target);
    } else if (n == 1) {
        FUZZ_CHECK(target && *target == kDefaultFavoriteUrl);
    } else {
        FUZZ_CHECK(!target);
    }

    const FavoriteView view = FavoriteUpdate(n, list);
    if (!place || (n == 2 && caption.empty())) {
        FUZZ_CHECK(!view.set_enabled && !view.set_text);
    } else if (!caption.empty()) {
        FUZZ_CHECK(view.set_text && view.text == caption);
        FUZZ_CHECK(view.set_enabled == (n >= 3) && (!view.set_enabled || view.enabled));
    } else if (n == 1) {
        FUZZ_CHECK(!view.set_enabled && view.set_text && view.text == kDefaultFavoriteCaption);
    } else {
        FUZZ_CHECK(view.set_enabled && !view.enabled && view.set_text && view.text.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    BookmarkList list;
    list.SplitBookmarks(value);
    const std::vector<std::string>& entries = list.Entries();

    // Up to 20 "=" split the value; the entries put back together with "="
    // are the value. Without any "=" the value is the one entry.
    FUZZ_CHECK(!entries.empty() && entries.size() <= 21);
    size_t equals = 0;
    for (char c : value) equals += c == '=';
    FUZZ_CHECK(entries.size() == std::min<size_t>(equals, 20) + 1);
    std::string joined = entries[0];
    for (size_t i = 1; i < entries.size(); ++i) joined += "=" + entries[i];
    FUZZ_CHECK(joined == value);
    for (size_t i = 0; i + 1 < entries.size(); ++i)
        FUZZ_CHECK(entries[i].find('=') == std::string::npos);

    // Splitting again replaces what was there.
    BookmarkList again;
    again.SplitBookmarks("stale|http://stale/=x");
    again.SplitBookmarks(value);
    FUZZ_CHECK(again.Entries() == entries);

    static const int32_t kPlaces[] = {INT32_MIN, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                      13, 14, 15, 16, 17, 18, 19, 20, 21, 22, INT32_MAX};
    for (int32_t n : kPlaces) CheckPlace(n, list, value);
    return 0;
}
