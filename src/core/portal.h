// Portal addresses, the page-command table, the favorites rules and what
// may be handed to the default browser.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "core/settings.h"

namespace orlimo {

inline const char kTlsPrefix[] = "https://";

// The address rule. TLS when server_port is 443 or the server value begins
// with "https://" (the host is what follows); then "https://" + host, else
// "http://" + server. ":" + port follows exactly when the port is neither
// 80 nor 443, so "https://h" with the default port 80 is the default HTTPS
// port.
bool ServerHasTlsPrefix(const Settings& s);
bool UsesTls(const Settings& s);
std::string ServerBase(const Settings& s);

// The address forms (without the launch prefix).
std::string PortalPageUrl(const Settings& s, const std::string& page_path);  // login redirect
std::string UserHomeUrl(const Settings& s);          // /velsa/home/myhome.jsp?user_id=N
std::string UserExchangeUrl(const Settings& s);      // /velsa/exchangefwd.jsp?user_id=N
std::string PersonalDataUrl(const Settings& s);      // login redirect to /mypage/pri_mod.jsp#modify
std::string LoginUrl(const Settings& s);             // /velsa/login.jsp (also the shortcut argument)
std::string ServerRootUrl(const Settings& s);        // scheme and host by the rule, never a port
std::string NotifyQueryUrl(const Settings& s);       // /velsa/home/notifyMsg.jsp?usr_id=N&ver=1

inline const char kMessageBoxPage[] = "/message/ch_memobox.jsp";

// Longest address that is launched at all.
constexpr size_t kMaxLaunchAddress = 2048;

// Whether an address may be handed to the shell: not empty, no control
// byte (CR, LF, tab, NUL, DEL, ...), at most kMaxLaunchAddress bytes.
bool LaunchableAddress(const std::string& address);

// ---- portal page commands ----
enum class PageKind { Portal, UserHome, UserExchange };
struct PageCommand {
    int id;
    PageKind kind;
    const char* path;  // for PageKind::Portal
};
// The 31 page commands of the tray menu; nullptr when id is not one.
const PageCommand* FindPageCommand(int id);
extern const PageCommand kPageCommands[31];

// The address a page command opens.
std::string PageCommandUrl(const PageCommand& cmd, const Settings& s);

// ---- favorites ----
constexpr int kFavoriteCount = 20;
extern const int kFavoriteIds[kFavoriteCount];
// Favorite number 1..20 for a command id, 0 when it is none.
int FavoriteNumber(int id);

inline const char kDefaultFavoriteCaption[] = "Dunlore";
inline const char kDefaultFavoriteUrl[] = ORLIMO_MAKER_URL;

// What the menu update does with favorite n (1..20).
struct FavoriteView {
    bool set_enabled;   // change the enabled state at all
    bool enabled;       // the state to set when set_enabled
    bool set_text;      // change the caption at all
    std::string text;   // the caption to set when set_text (ANSI bytes)
};
FavoriteView FavoriteUpdate(int n, const BookmarkList& bookmarks);

// The address that choosing favorite n opens, or nothing: its address
// without leading and trailing blanks, when that begins with "http://" or
// "https://" (entry 1 falls back to the default address).
std::optional<std::string> FavoriteTarget(int n, const BookmarkList& bookmarks);

}  // namespace orlimo
