// The portal addresses: every form is "https://" + host when the port is
// 443 or the server begins with "https://" (the host is what follows), else
// "http://" + server, then ":port" exactly when the port is neither 80 nor
// 443, then its path; user ids are signed
// decimal numbers; whether an address may be launched follows its rule.
//
// Input: user id, port and a command id (4 bytes each, from the input's
// end), a page path (length-prefixed), then the server's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "core/portal.h"
#include "fuzz_util.h"

using namespace orlimo;
using orlimo_fuzz::Decimal;
using orlimo_fuzz::EndsWith;
using orlimo_fuzz::StartsWith;

namespace {

const char kLoginRedirect[] = "/velsa/login.jsp?targetUrlSuccess=/topurl_main.jsp?main_url=";

bool PlainLaunchable(const std::string& address) {
    if (address.empty() || address.size() > kMaxLaunchAddress) return false;
    for (unsigned char c : address) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

bool HasControlByte(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

void CheckLaunchable(const std::string& address) {
    FUZZ_CHECK(LaunchableAddress(address) == PlainLaunchable(address));
}

// Scheme and host by the rule, written out plainly.
std::string PlainRoot(const Settings& s) {
    if (StartsWith(s.server, "https://")) return s.server;
    return (s.server_port == 443 ? "https://" : "http://") + s.server;
}

// The part after the scheme, host and port, checked on the way.
std::string PathOf(const std::string& url, const Settings& s) {
    const std::string host = PlainRoot(s);
    FUZZ_CHECK(StartsWith(url, host));
    std::string rest = url.substr(host.size());
    if (s.server_port != 80 && s.server_port != 443) {
        const std::string port = ":" + Decimal(s.server_port);
        FUZZ_CHECK(StartsWith(rest, port));
        rest.erase(0, port.size());
    }
    FUZZ_CHECK(StartsWith(rest, "/"));
    return rest;
}

// A portal address may be launched exactly when the server and the page
// path hold no control byte and the whole fits the length limit.
void CheckPortalAddress(const std::string& url, const Settings& s, const std::string& page_path) {
    CheckLaunchable(url);
    FUZZ_CHECK(LaunchableAddress(url) == (!HasControlByte(s.server) && !HasControlByte(page_path) &&
                                          url.size() <= kMaxLaunchAddress));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Settings s;
    s.user_id = in.ConsumeIntegral<int32_t>();
    s.server_port = in.ConsumeIntegral<int32_t>();
    const int command_id = in.ConsumeIntegral<int32_t>();
    const std::string page_path = in.ConsumeRandomLengthString(512);
    s.server = in.ConsumeRemainingBytesAsString();
    const std::string id = Decimal(s.user_id);

    FUZZ_CHECK(PathOf(PortalPageUrl(s, page_path), s) == kLoginRedirect + page_path);
    CheckPortalAddress(PortalPageUrl(s, page_path), s, page_path);
    FUZZ_CHECK(PathOf(UserHomeUrl(s), s) == "/velsa/home/myhome.jsp?user_id=" + id);
    FUZZ_CHECK(PathOf(UserExchangeUrl(s), s) == "/velsa/exchangefwd.jsp?user_id=" + id);
    FUZZ_CHECK(PathOf(NotifyQueryUrl(s), s) == "/velsa/home/notifyMsg.jsp?usr_id=" + id + "&ver=1");
    FUZZ_CHECK(PathOf(LoginUrl(s), s) == "/velsa/login.jsp");
    FUZZ_CHECK(PathOf(PersonalDataUrl(s), s) == std::string(kLoginRedirect) + "/mypage/pri_mod.jsp#modify");
    FUZZ_CHECK(ServerRootUrl(s) == PlainRoot(s));  // never a port
    FUZZ_CHECK(UsesTls(s) == StartsWith(ServerRootUrl(s), "https://"));
    for (const std::string& url : {UserHomeUrl(s), UserExchangeUrl(s), NotifyQueryUrl(s),
                                   LoginUrl(s), PersonalDataUrl(s), ServerRootUrl(s)}) {
        CheckPortalAddress(url, s, std::string());
    }

    for (const PageCommand& cmd : kPageCommands) {
        const std::string url = PageCommandUrl(cmd, s);
        switch (cmd.kind) {
            case PageKind::Portal:
                FUZZ_CHECK(cmd.path && url == PortalPageUrl(s, cmd.path));
                break;
            case PageKind::UserHome:
                FUZZ_CHECK(url == UserHomeUrl(s));
                break;
            case PageKind::UserExchange:
                FUZZ_CHECK(url == UserExchangeUrl(s));
                break;
        }
    }

    // A command id is a page, a favorite or neither, and maps back to itself.
    const PageCommand* page = FindPageCommand(command_id);
    const int favorite = FavoriteNumber(command_id);
    FUZZ_CHECK(favorite >= 0 && favorite <= kFavoriteCount);
    FUZZ_CHECK(!(page && favorite));
    if (page) FUZZ_CHECK(page->id == command_id);
    if (favorite) FUZZ_CHECK(kFavoriteIds[favorite - 1] == command_id);

    // The launch rule on the raw bytes and around the length limit (the
    // command id picks 2047, 2048 or 2049 bytes).
    CheckLaunchable(s.server);
    CheckLaunchable(page_path);
    const size_t length = kMaxLaunchAddress - 1 + static_cast<uint32_t>(command_id) % 3;
    std::string padded = LoginUrl(s);
    padded.resize(length, 'a');
    FUZZ_CHECK(LaunchableAddress(padded) == (length <= kMaxLaunchAddress && !HasControlByte(padded)));
    return 0;
}
