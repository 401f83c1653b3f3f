// The text fetch against a small HTTP server of the test's own on
// 127.0.0.1, which can answer normally, slowly, endlessly or not at all.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>
#include <mutex>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "core/poller.h"
#include "win/fetch.h"

using orlimo::CUrlTextFetcher;

namespace {

// Serves every connection with the given handler, which gets the socket
// and the request text.
class TestServer {
public:
    using Handler = std::function<void(SOCKET, const std::string&)>;

    explicit TestServer(Handler handler) : handler_(std::move(handler)) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        listen(listener_, 8);
        int len = sizeof(addr);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TestServer() {
        stop_ = true;
        closesocket(listener_);
        thread_.join();
    }
    std::string Url(const std::string& path = "/velsa/home/notifyMsg.jsp?usr_id=1&ver=1") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string LastRequest() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_request_;
    }
    bool Stopping() const { return stop_; }

private:
    void Serve() {
        while (!stop_) {
            SOCKET s = accept(listener_, nullptr, nullptr);
            if (s == INVALID_SOCKET) return;
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                int n = recv(s, buf, sizeof(buf), 0);
                if (n <= 0) break;
                request.append(buf, n);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                last_request_ = request;
            }
            handler_(s, request);
            closesocket(s);
        }
    }

    Handler handler_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string last_request_;
};

bool SendAll(SOCKET s, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        int n = send(s, data.data() + done, static_cast<int>(data.size() - done), 0);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

TestServer::Handler Reply(int status, const std::string& body) {
    return [status, body](SOCKET s, const std::string&) {
        SendAll(s, "HTTP/1.0 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\n"
                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    };
}

double Seconds(DWORD start) { return (GetTickCount() - start) / 1000.0; }

// Upper bound of one call, with a margin for a slow machine.
constexpr double kCallBound = orlimo::kFetchDeadlineMs / 1000.0 + 2.0;

}  // namespace

TEST(FetchUrlText, ReturnsBodyLinesWithCrLfAndSendsTheAgentName) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        std::string expected;
    };
    std::string many;
    std::string first100;
    for (int i = 1; i <= 150; ++i) {
        many += "line" + std::to_string(i) + "\n";
        if (i <= 100) first100 += "line" + std::to_string(i) + "\r\n";
    }
    const Case cases[] = {
        {"three lines", 200, "a\n\nb\n", "a\r\n\r\nb\r\n"},
        {"CR LF body", 200, "0\r\nhas\r\n", "0\r\nhas\r\n"},
        {"no final line end", 200, "x\nhas", "x\r\nhas\r\n"},
        {"empty body", 200, "", ""},
        {"150 lines", 200, many, first100},
        {"204 success", 204, "", ""},
        // An error page is no reply, whatever its text holds.
        {"404 page", 404, "The page has been removed\n", orlimo::kNoSocket},
        {"503 page", 503, "The service has been stopped\n", orlimo::kNoSocket},
        {"a proxy's 502", 502, "Bad gateway\n", orlimo::kNoSocket},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(Reply(c.status, c.body));
        std::optional<std::string> text = CUrlTextFetcher().FetchUrlText(server.Url());
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, c.expected);
        std::string request = server.LastRequest();
        EXPECT_EQ(request.rfind("GET /velsa/home/notifyMsg.jsp?usr_id=1&ver=1 HTTP/1.1\r\n", 0), 0u)
            << request;
        EXPECT_NE(request.find("\r\nUser-Agent: orlimo\r\n"), std::string::npos) << request;
    }
}

TEST(FetchUrlText, UnreachableServerGivesNoSocket) {
    // A port that was just free: nobody listens there.
    int port;
    {
        TestServer probe(Reply(200, ""));
        port = std::stoi(probe.Url().substr(17, 5));
    }
    EXPECT_EQ(CUrlTextFetcher().FetchUrlText("http://127.0.0.1:" + std::to_string(port) + "/velsa/"),
              std::optional<std::string>("no socket."));
    EXPECT_EQ(CUrlTextFetcher().FetchUrlText("http://no-such-host.invalid/velsa/"),
              std::optional<std::string>("no socket."));
    EXPECT_EQ(CUrlTextFetcher().FetchUrlText("not an address"), std::optional<std::string>("no socket."));
}

TEST(FetchUrlText, ServerThatMisbehavesCannotHoldTheCallerPastTheDeadline) {
    struct Case {
        const char* name;
        TestServer::Handler handler;
        bool expect_no_socket;  // else: no result at all (the body failed)
    };
    auto silent = [](SOCKET, const std::string&) { Sleep(orlimo::kFetchDeadlineMs + 4000); };
    auto drip = [](SOCKET s, const std::string&) {
        SendAll(s, "HTTP/1.0 200 OK\r\n\r\n");
        // Past the deadline: the body is still unfinished when it strikes.
        const int bytes = static_cast<int>((orlimo::kFetchDeadlineMs + 8000) / 400);
        for (int i = 0; i < bytes && SendAll(s, "h"); ++i) Sleep(400);
    };
    const Case cases[] = {
        {"accepts and stays silent", silent, true},
        {"drips one byte at a time", drip, false},
    };
    TestServer healthy(Reply(200, "0\n"));
    // Until a worker that outlived its call has ended, no fetch starts (and
    // the call says "no socket."): each case starts once the one before
    // has let go.
    auto wait_until_fetching_works = [&healthy] {
        std::optional<std::string> text;
        for (int i = 0; i < 100 && text != std::optional<std::string>("0\r\n"); ++i) {
            text = CUrlTextFetcher().FetchUrlText(healthy.Url());
            if (text != std::optional<std::string>("0\r\n")) Sleep(200);
        }
        return text;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(wait_until_fetching_works(), std::optional<std::string>("0\r\n"));
        TestServer server(c.handler);
        DWORD start = GetTickCount();
        std::optional<std::string> text = CUrlTextFetcher().FetchUrlText(server.Url());
        EXPECT_LT(Seconds(start), kCallBound);
        if (c.expect_no_socket) {
            EXPECT_EQ(text, std::optional<std::string>("no socket."));
        } else {
            EXPECT_FALSE(text.has_value());
        }
    }
    // Once the misbehaving servers are gone, fetching works again (a worker
    // that outlived its call must not keep later polls from running).
    EXPECT_EQ(wait_until_fetching_works(), std::optional<std::string>("0\r\n"));
}

TEST(FetchUrlText, OneFetchAtATimeAnsweredBesideTheCaller) {
    TestServer server([](SOCKET s, const std::string&) {
        Sleep(1500);
        SendAll(s, "HTTP/1.0 200 OK\r\n\r\n0 has\n");
    });
    CUrlTextFetcher first, second;
    ASSERT_TRUE(first.Start(server.Url()));
    EXPECT_TRUE(first.Running());
    EXPECT_FALSE(second.Start(server.Url())) << "a second worker while one runs";
    EXPECT_FALSE(first.Start(server.Url()));
    Sleep(3000);  // the caller goes on meanwhile; the worker is done by now
    EXPECT_EQ(first.Finish(), std::optional<std::string>("0 has\r\n"));
    EXPECT_FALSE(first.Running());
    EXPECT_EQ(second.FetchUrlText(server.Url()), std::optional<std::string>("0 has\r\n"));
}

TEST(FetchUrlText, EndlessBodiesStayWithinTheirBounds) {
    auto endless_lines = [](SOCKET s, const std::string&) {
        SendAll(s, "HTTP/1.0 200 OK\r\n\r\n");
        while (SendAll(s, "0 has nothing new\r\n")) {
        }
    };
    auto endless_line = [](SOCKET s, const std::string&) {
        SendAll(s, "HTTP/1.0 200 OK\r\n\r\n");
        std::string chunk(64 * 1024, 'x');
        while (SendAll(s, chunk)) {
        }
    };
    {
        SCOPED_TRACE("endless short lines: the first 100 are kept");
        TestServer server(endless_lines);
        std::optional<std::string> text = CUrlTextFetcher().FetchUrlText(server.Url());
        ASSERT_TRUE(text.has_value());
        std::string expected;
        for (int i = 0; i < 100; ++i) expected += "0 has nothing new\r\n";
        EXPECT_EQ(*text, expected);
    }
    {
        SCOPED_TRACE("one endless line: cut at the line cap");
        TestServer server(endless_line);
        std::optional<std::string> text = CUrlTextFetcher().FetchUrlText(server.Url());
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(text->size(), orlimo::ReplyText::kMaxReplyLine + 2);
        EXPECT_EQ(text->substr(text->size() - 2), "\r\n");
    }
}
