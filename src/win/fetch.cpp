#include "win/fetch.h"

#include <wininet.h>

#include "core/poller.h"

namespace orlimo {

namespace {

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
        if (request) InternetCloseHandle(request);
        if (session) InternetCloseHandle(session);
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
    HINTERNET session = InternetOpenA("orlimo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    EnterCriticalSection(&st->lock);
    if (st->abandoned && session) {
        InternetCloseHandle(session);
        session = nullptr;
    }
    st->session = session;
    LeaveCriticalSection(&st->lock);

    if (session) {
        HINTERNET request = InternetOpenUrlA(session, st->url.c_str(), nullptr, 0,
                                             INTERNET_FLAG_DONT_CACHE, 1);
        EnterCriticalSection(&st->lock);
        if (request && (st->abandoned || !st->session)) {
            InternetCloseHandle(request);
            request = nullptr;
        }
        st->request = request;
        st->opened = request != nullptr;
        LeaveCriticalSection(&st->lock);

        if (request) {
            char buffer[8192];
            for (;;) {
                DWORD got = 0;
                if (!InternetReadFile(request, buffer, sizeof(buffer), &got)) break;
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
