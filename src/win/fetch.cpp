#include "win/fetch.h"

#include <windows.h>
#include <wininet.h>

#include "core/poller.h"

namespace orlimo {

namespace {

// Workers whose caller gave up on them and that have not ended yet. Wine's
// WinINet may stay blocked in a call even after its handles were closed;
// while one such worker lingers, no new one is started (the poll counts as
// "no socket."), so a server that never answers cannot pile up threads.
LONG g_lingering_workers = 0;

// Shared between the caller and the worker that makes the WinINet calls.
// The caller owns the deadline: when it passes, it closes the handles
// (which makes a blocked call return) and leaves; whoever finishes last
// frees the state.
struct FetchState {
    std::string url;
    CRITICAL_SECTION lock;
    HINTERNET session = nullptr;
    HINTERNET request = nullptr;
    bool abandoned = false;
    bool opened = false;     // the request was opened
    bool read_ok = false;    // the body was read to its end or to the caps
    bool lingering = false;  // counted in g_lingering_workers
    bool worker_done = false;
    ReplyText reply;
    LONG refs = 2;

    FetchState() { InitializeCriticalSection(&lock); }
    ~FetchState() { DeleteCriticalSection(&lock); }

    void Release() {
        if (InterlockedDecrement(&refs) == 0) delete this;
    }
    // Closes what is still open; safe to call from either side, any number of times.
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

DWORD WINAPI FetchWorker(LPVOID param) {
    FetchState* st = static_cast<FetchState*>(param);
    HINTERNET session = InternetOpenA("orlimo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    EnterCriticalSection(&st->lock);
    if (st->abandoned) {
        if (session) InternetCloseHandle(session);
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
                if (got == 0) {
                    st->read_ok = true;
                    break;
                }
                if (!st->reply.Feed(buffer, got)) {
                    st->read_ok = true;
                    break;
                }
            }
        }
    }
    st->CloseHandles();
    EnterCriticalSection(&st->lock);
    if (st->lingering) InterlockedDecrement(&g_lingering_workers);
    st->lingering = false;
    st->worker_done = true;
    LeaveCriticalSection(&st->lock);
    st->Release();
    return 0;
}

}  // namespace

std::optional<std::string> CUrlTextFetcher::FetchUrlText(std::string url) {
    if (InterlockedCompareExchange(&g_lingering_workers, 0, 0) > 0) return std::string(kNoSocket);
    FetchState* st = new FetchState;
    st->url = std::move(url);
    HANDLE thread = CreateThread(nullptr, 256 * 1024, &FetchWorker, st, 0, nullptr);
    if (!thread) {
        st->Release();
        st->Release();
        return std::string(kNoSocket);
    }
    DWORD wait = WaitForSingleObject(thread, kFetchDeadlineMs);
    bool finished = wait == WAIT_OBJECT_0;
    if (!finished) {
        EnterCriticalSection(&st->lock);
        st->abandoned = true;
        LeaveCriticalSection(&st->lock);
        st->CloseHandles();
        finished = WaitForSingleObject(thread, kFetchCloseGraceMs) == WAIT_OBJECT_0;
        if (!finished) {
            EnterCriticalSection(&st->lock);
            // The worker may have ended between the wait and here.
            if (!st->worker_done) {
                st->lingering = true;
                InterlockedIncrement(&g_lingering_workers);
            }
            LeaveCriticalSection(&st->lock);
        }
    }
    CloseHandle(thread);

    std::optional<std::string> result;
    EnterCriticalSection(&st->lock);
    const bool opened = st->opened;
    LeaveCriticalSection(&st->lock);
    if (!opened) {
        // Could not be opened, or no reply before the deadline.
        result = std::string(kNoSocket);
    } else if (finished && st->read_ok && !st->abandoned) {
        result = st->reply.Finish();
    }
    // else: the body failed or stalled - no result.
    st->Release();
    return result;
}

}  // namespace orlimo
