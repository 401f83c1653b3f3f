#include "core/portal.h"

namespace orlimo {
namespace {

const char kLoginRedirect[] = "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=";

// Blanks (spaces and tabs) at both ends removed.
std::string TrimBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool ServerHasTlsPrefix(const Settings& s) { return s.server.compare(0, 8, kTlsPrefix) == 0; }

bool UsesTls(const Settings& s) { return s.server_port == 443 || ServerHasTlsPrefix(s); }

std::string ServerRootUrl(const Settings& s) {
    if (ServerHasTlsPrefix(s)) return s.server;
    return (s.server_port == 443 ? kTlsPrefix : "http://") + s.server;
}

std::string ServerBase(const Settings& s) {
    std::string base = ServerRootUrl(s);
    // 80 and 443 are the schemes' own ports; a "https://" server with the
    // default 80 means the default HTTPS port.
    if (s.server_port != 80 && s.server_port != 443) base += ":" + std::to_string(s.server_port);
    return base;
}

std::string PortalPageUrl(const Settings& s, const std::string& page_path) {
    return ServerBase(s) + kLoginRedirect + page_path;
}

std::string UserHomeUrl(const Settings& s) {
    return ServerBase(s) + "/velsa/home/myhome.jsp?user_id=" + std::to_string(s.user_id);
}

std::string UserExchangeUrl(const Settings& s) {
    return ServerBase(s) + "/velsa/exchangefwd.jsp?user_id=" + std::to_string(s.user_id);
}

std::string PersonalDataUrl(const Settings& s) {
    return PortalPageUrl(s, "/mypage/pri_mod.jsp#modify");
}

std::string LoginUrl(const Settings& s) { return ServerBase(s) + "/velsa/login.jsp"; }

std::string NotifyQueryUrl(const Settings& s) {
    return ServerBase(s) + "/velsa/home/notifyMsg.jsp?usr_id=" + std::to_string(s.user_id) +
           "&ver=1";
}

bool LaunchableAddress(const std::string& address) {
    if (address.empty() || address.size() > kMaxLaunchAddress) return false;
    for (char ch : address) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

// ---- portal page commands, in menu order ----
const PageCommand kPageCommands[31] = {
    // "企业信息系统"
    {32791, PageKind::Portal, "/mail/compose.jsp"},
    {32783, PageKind::Portal, "/mail/mail_list.jsp"},
    {32820, PageKind::Portal, "/kldg_private/mynotes.jsp?op=write"},
    {32821, PageKind::Portal, "/kldg_private/mynotes.jsp?op=read"},
    {32784, PageKind::Portal, "/portal/inform/index.jsp"},
    {32785, PageKind::Portal, "/address/index.jsp"},
    {32800, PageKind::Portal, "/calendar/index.jsp"},
    {32787, PageKind::Portal, "/cop/dept_cop_home.jsp"},
    {32786, PageKind::Portal, "/portal/board/index.jsp"},
    {32789, PageKind::Portal, "/kldg/pkldg.jsp"},
    {32790, PageKind::Portal, "/kldg/index.jsp"},
    {32815, PageKind::Portal, "/cop/index.jsp"},
    {32816, PageKind::Portal, "/sign/index.jsp"},
    // "销售管理"
    {32803, PageKind::Portal, "/mrpt/menu_index.jsp"},
    {32817, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/sales/order_edit.jsp?ordertype=2"},
    {32804, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/sales/order_edit.jsp"},
    {32805, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/stock/inout_list.jsp"},
    {32806, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/finance/invoice_list.jsp"},
    {32812, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/finance/pay_list.jsp"},
    {32807, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/sales/partner_list.jsp"},
    {32810, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/report/report.jsp"},
    {32813, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/report/payable.jsp"},
    {32818, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/sales/doc_list.jsp?doc_type=activity"},
    {32814, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/sales/doc_list.jsp?doc_type=contract"},
    {32808, PageKind::Portal, "/mrpt/stock/pro_index.jsp"},
    {32809, PageKind::Portal, "/mrpt/menu_index.jsp?page_url=/mrpt/stock/storage_list.jsp"},
    {32811, PageKind::Portal, "/mrpt_admin/index.jsp"},
    // top level
    {32819, PageKind::UserExchange, nullptr},
    {32801, PageKind::UserHome, nullptr},
    {32779, PageKind::Portal, "/message/ch_sendmemo.jsp"},
    {32780, PageKind::Portal, "/message/ch_memobox.jsp"},
};

const PageCommand* FindPageCommand(int id) {
    for (const PageCommand& cmd : kPageCommands) {
        if (cmd.id == id) return &cmd;
    }
    return nullptr;
}

std::string PageCommandUrl(const PageCommand& cmd, const Settings& s) {
    switch (cmd.kind) {
        case PageKind::UserHome:
            return UserHomeUrl(s);
        case PageKind::UserExchange:
            return UserExchangeUrl(s);
        case PageKind::Portal:
            break;
    }
    return PortalPageUrl(s, cmd.path ? cmd.path : "");
}

// ---- favorites ----
const int kFavoriteIds[kFavoriteCount] = {
    32781, 32782, 32792, 32793, 32794, 32795, 32796, 32797, 32798, 32799,
    32829, 32822, 32823, 32824, 32825, 32826, 32827, 32828, 32830, 32831,
};

int FavoriteNumber(int id) {
    for (int i = 0; i < kFavoriteCount; ++i) {
        if (kFavoriteIds[i] == id) return i + 1;
    }
    return 0;
}

FavoriteView FavoriteUpdate(int n, const BookmarkList& bookmarks) {
    FavoriteView view{false, false, false, std::string()};
    if (n < 1 || n > kFavoriteCount) return view;
    const std::string caption = bookmarks.GetBookmarkCaption(n);
    if (!caption.empty()) {
        if (n >= 3) {
            view.set_enabled = true;
            view.enabled = true;
        }
        view.set_text = true;
        view.text = caption;
    } else if (n == 1) {
        view.set_text = true;
        view.text = kDefaultFavoriteCaption;
    } else if (n >= 3) {
        view.set_enabled = true;
        view.enabled = false;
        view.set_text = true;
    }
    return view;
}

std::optional<std::string> FavoriteTarget(int n, const BookmarkList& bookmarks) {
    if (n < 1 || n > kFavoriteCount) return std::nullopt;
    const std::string url = TrimBlanks(bookmarks.GetBookmarkUrl(n));
    // A web address only: one that merely holds "http://" behind another
    // scheme (another program's protocol) would start that program.
    if (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, kTlsPrefix) == 0) return url;
    if (n == 1) return std::string(kDefaultFavoriteUrl);
    return std::nullopt;
}

}  // namespace orlimo
