#include "win/fetch.h"

#include <wininet.h>

#include "core/poller.h"
#include "win/settings_io.h"
#include "win/system_dll.h"

namespace orlimo {

namespace {

// WinINet, from the system folder (it is no KnownDLL, so an imported one
// would be looked for beside the program first): loaded by the first fetch
// (and by each next one while it cannot be), on the caller's thread, and
// kept.
struct WinInet {
    HMODULE module = nullptr;
    decltype(&::InternetOpenA) InternetOpenA = nullptr;
    decltype(&::InternetSetOptionA) InternetSetOptionA = nullptr;
    decltype(&::InternetOpenUrlA) InternetOpenUrlA = nullptr;
    decltype(&::InternetReadFile) InternetReadFile = nullptr;
    decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
    decltype(&::InternetCombineUrlA) InternetCombineUrlA = nullptr;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA = nullptr;
};
WinInet g_inet;

// The thread of the newest fetch and its "done" event, kept until the
// worker is seen to be done, so that at most one fetch thread is at work in
// the process. (Done means past its last WinINet call; the thread itself
// may take a moment more to end.)
HANDLE g_worker = nullptr;
HANDLE g_worker_done = nullptr;

bool WorkerAlive() {
    if (!g_worker) return false;
    HANDLE either[] = {g_worker, g_worker_done};
    if (WaitForMultipleObjects(g_worker_done ? 2 : 1, either, FALSE, 0) == WAIT_TIMEOUT) return true;
    CloseHandle(g_worker);
    if (g_worker_done) CloseHandle(g_worker_done);
    g_worker = g_worker_done = nullptr;
    return false;
}

// The reason last written to the log (empty: none since the last good poll).
std::string g_logged_reason;

// WinINet's error as the log says it: "error N text".
std::string ErrorReason(DWORD error) {
    char text[256] = {};
    // WinINet's own words for its codes (certificate errors among them).
    if (!g_inet.module ||
        !FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, g_inet.module, error, 0,
                        text, sizeof(text), nullptr))
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                       sizeof(text), nullptr);
    char line[320];
    wsprintfA(line, "error %lu %s", error, text);
    return line;
}

// Writes "time address: reason" to the log when the reason changed.
void LogFailure(const std::string& url, std::string reason) {
    while (!reason.empty() && (reason.back() == ' ' || reason.back() == '\r' || reason.back() == '\n'))
        reason.pop_back();
    if (reason == g_logged_reason) return;
    g_logged_reason = reason;
    WriteLogLine(url.substr(0, 700) + ": " + reason.substr(0, 300));
}

}  // namespace

void WriteLogLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    const std::string folder = UserSettingsFolder();
    if (folder.empty()) return;
    CreateDirectoryA(folder.c_str(), nullptr);
    HANDLE h = CreateFileA((folder + kFetchLogName).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    if (GetFileSize(h, nullptr) > 64 * 1024) {
        CloseHandle(h);
        h = CreateFileA((folder + kFetchLogName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return;
    }
    SYSTEMTIME t;
    GetLocalTime(&t);
    char stamp[32];
    const int n = wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u:%02u ", t.wYear, t.wMonth, t.wDay, t.wHour,
                            t.wMinute, t.wSecond);
    line = std::string(stamp, n > 0 ? static_cast<size_t>(n) : 0) + line + "\r\n";
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

namespace {

// Loads WinINet when it is not loaded yet; false, with the reason as the
// log says it, when it cannot be (missing, broken, or without an entry).
bool LoadWinInet(std::string* why) {
    if (g_inet.module) return true;
    WinInet inet;
    inet.module = LoadSystemDll(L"wininet.dll");
    if (!inet.module) {
        *why = "wininet.dll cannot be loaded from the system folder: " + ErrorReason(GetLastError());
        return false;
    }
    const char* missing = nullptr;
    auto bind = [&](const char* name, auto* entry) {
        if (!missing && !BindEntry(inet.module, name, entry)) missing = name;
    };
    bind("InternetOpenA", &inet.InternetOpenA);
    bind("InternetSetOptionA", &inet.InternetSetOptionA);
    bind("InternetOpenUrlA", &inet.InternetOpenUrlA);
    bind("InternetReadFile", &inet.InternetReadFile);
    bind("InternetCloseHandle", &inet.InternetCloseHandle);
    bind("InternetCombineUrlA", &inet.InternetCombineUrlA);
    bind("HttpQueryInfoA", &inet.HttpQueryInfoA);
    if (missing) {
        FreeLibrary(inet.module);
        *why = std::string("the system folder's wininet.dll has no ") + missing + ": " +
               ErrorReason(ERROR_PROC_NOT_FOUND);
        return false;
    }
    g_inet = inet;
    return true;
}

const char kHttps[] = "https://";

// The reply's status when it is not a success (outside 200-299), as the log
// says it: "HTTP status N text"; empty for a success. An error page (the
// portal's maintenance page, a proxy's 502) is no reply to the query.
std::string FailedStatus(HINTERNET request) {
    DWORD status = 0, size = sizeof(status);
    if (!g_inet.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return "HTTP status unknown";
    if (status >= 200 && status <= 299) return std::string();
    char text[128] = {};
    size = sizeof(text) - 1;
    if (!g_inet.HttpQueryInfoA(request, HTTP_QUERY_STATUS_TEXT, text, &size, nullptr)) text[0] = '\0';
    char reason[200];
    wsprintfA(reason, "HTTP status %lu %.100s", status, text);
    return reason;
}

// Where a redirect reply (301, 302, 303, 307, 308 with a Location) leads,
// made absolute against url; empty for any other reply.
std::string RedirectTarget(HINTERNET request, const std::string& url) {
    DWORD status = 0, size = sizeof(status);
    if (!g_inet.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status < 301 || status > 308 || (status > 303 && status < 307))
        return std::string();
    char location[4096];
    size = sizeof(location);
    if (!g_inet.HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &size, nullptr)) return std::string();
    std::string next(8192, '\0');
    size = static_cast<DWORD>(next.size());
    if (!g_inet.InternetCombineUrlA(url.c_str(), location, &next[0], &size, 0)) return std::string();
    next.resize(size);
    return next;
}

}  // namespace

// Shared between the caller and the worker that makes the WinINet calls.
// The caller owns the deadline: when it gives up, it closes the handles
// (which makes a blocked call return) and leaves; whoever finishes last
// frees the state.
struct FetchState {
    std::string url;
    HWND notify = nullptr;
    UINT message = 0;
    unsigned number = 0;
    HANDLE done = nullptr;  // set when the worker no longer touches the reply
    CRITICAL_SECTION lock;
    HINTERNET session = nullptr;
    HINTERNET request = nullptr;
    bool abandoned = false;
    bool opened = false;   // the request was opened
    bool read_ok = false;  // the body was read to its end or to the caps
    bool worker_done = false;
    ReplyText reply;
    LONG refs = 2;

    FetchState() {
        InitializeCriticalSection(&lock);
        done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~FetchState() {
        if (done) CloseHandle(done);
        DeleteCriticalSection(&lock);
    }
    void Release() {
        if (InterlockedDecrement(&refs) == 0) delete this;
    }
    // Closes what is still open; safe from either side, any number of times.
    void CloseHandles() {
        EnterCriticalSection(&lock);
        if (request) g_inet.InternetCloseHandle(request);
        if (session) g_inet.InternetCloseHandle(session);
        request = session = nullptr;
        LeaveCriticalSection(&lock);
    }
    bool Abandoned() {
        EnterCriticalSection(&lock);
        bool a = abandoned;
        LeaveCriticalSection(&lock);
        return a;
    }
};

namespace {

DWORD WINAPI FetchWorker(LPVOID param) {
    FetchState* st = static_cast<FetchState*>(param);
    HINTERNET session = g_inet.InternetOpenA("orlimo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    EnterCriticalSection(&st->lock);
    if (st->abandoned && session) {
        g_inet.InternetCloseHandle(session);
        session = nullptr;
    }
    st->session = session;
    LeaveCriticalSection(&st->lock);

    DWORD error = 0;
    HINTERNET request = nullptr;
    if (session) {
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
            DWORD ms = kFetchDeadlineMs;
            g_inet.InternetSetOptionA(session, option, &ms, sizeof(ms));
        }
        // Redirects are followed here, not by WinINet (Wine's follows one
        // from https:// to http://): a few hops, never from TLS to plain.
        std::string url = st->url;
        for (int hop = 0;; ++hop) {
            const bool tls = url.compare(0, 8, kHttps) == 0;
            // TLS only for https:// (on an http:// address the flag would
            // try TLS on the plain port); the certificate is checked.
            request = g_inet.InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                       INTERNET_FLAG_DONT_CACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                           (tls ? INTERNET_FLAG_SECURE : 0),
                                       1);
            if (!request) error = GetLastError();
            EnterCriticalSection(&st->lock);
            if (request && (st->abandoned || !st->session)) {
                g_inet.InternetCloseHandle(request);
                request = nullptr;
            }
            st->request = request;
            LeaveCriticalSection(&st->lock);
            if (!request) break;
            const std::string next = RedirectTarget(request, url);
            if (next.empty()) break;
            error = hop == 5 ? ERROR_HTTP_REDIRECT_FAILED
                    : tls && next.compare(0, 8, kHttps) != 0 ? ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
                                                            : 0;
            EnterCriticalSection(&st->lock);
            if (st->request) g_inet.InternetCloseHandle(st->request);
            st->request = request = nullptr;
            LeaveCriticalSection(&st->lock);
            if (error) break;
            url = next;
        }
        // The final reply's status: anything but a success is a failure.
        std::string reason;
        if (request) reason = FailedStatus(request);
        if (!reason.empty()) {
            EnterCriticalSection(&st->lock);
            if (st->request) g_inet.InternetCloseHandle(st->request);
            st->request = request = nullptr;
            LeaveCriticalSection(&st->lock);
        }
        EnterCriticalSection(&st->lock);
        st->opened = request != nullptr;
        LeaveCriticalSection(&st->lock);
        // No error of WinINet's: the deadline closed the handles.
        if (!request) LogFailure(st->url, !reason.empty() ? reason : ErrorReason(error ? error : ERROR_INTERNET_TIMEOUT));
        else g_logged_reason.clear();

        if (request) {
            char buffer[8192];
            for (;;) {
                DWORD got = 0;
                if (!g_inet.InternetReadFile(request, buffer, sizeof(buffer), &got)) break;
                if (st->Abandoned()) break;
                if (got == 0 || !st->reply.Feed(buffer, got)) {
                    st->read_ok = true;
                    break;
                }
            }
        }
    }
    st->CloseHandles();
    EnterCriticalSection(&st->lock);
    st->worker_done = true;
    const bool tell = st->notify && !st->abandoned;
    LeaveCriticalSection(&st->lock);
    SetEvent(st->done);
    if (tell) PostMessageW(st->notify, st->message, st->number, 0);
    st->Release();
    return 0;
}

}  // namespace

CUrlTextFetcher::~CUrlTextFetcher() {
    if (state_) Finish();
}

bool CUrlTextFetcher::Start(std::string url, HWND notify, UINT message) {
    if (state_ || WorkerAlive()) return false;
    std::string why;
    if (!LoadWinInet(&why)) {
        LogFailure(url, why);
        return false;
    }
    FetchState* st = new FetchState;
    st->url = std::move(url);
    st->notify = notify;
    st->message = message;
    st->number = ++number_;
    // A small stack: the worker needs little, and a lingering one costs less.
    HANDLE thread = st->done ? CreateThread(nullptr, 256 * 1024, &FetchWorker, st,
                                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                             : nullptr;
    if (!thread) {
        delete st;
        return false;
    }
    g_worker = thread;
    if (!DuplicateHandle(GetCurrentProcess(), st->done, GetCurrentProcess(), &g_worker_done, SYNCHRONIZE,
                         FALSE, 0))
        g_worker_done = nullptr;
    state_ = st;
    return true;
}

std::optional<std::string> CUrlTextFetcher::Finish() {
    FetchState* st = state_;
    if (!st) return std::nullopt;
    state_ = nullptr;
    EnterCriticalSection(&st->lock);
    const bool done = st->worker_done;
    if (!done) st->abandoned = true;
    const bool opened = st->opened;
    LeaveCriticalSection(&st->lock);
    if (!done) st->CloseHandles();

    std::optional<std::string> result;
    if (!opened) {
        result = std::string(kNoSocket);  // could not be opened, or not by now
    } else if (done && st->read_ok) {
        result = st->reply.Finish();
    }
    // else: the body failed or stalled - no result.
    st->Release();
    return result;
}

std::optional<std::string> CUrlTextFetcher::FetchUrlText(std::string url) {
    if (!Start(std::move(url))) return std::string(kNoSocket);
    WaitForSingleObject(state_->done, kFetchDeadlineMs);
    return Finish();
}

}  // namespace orlimo
