// Measuring tool for orlimo.exe under Wine (prints figures, asserts nothing).
//
//   benchtool tray-time EXE           ms from CreateProcess to the tray icon
//   benchtool ui-block SECONDS        worst and median round trip (ms) of a
//                                     message sent to the running frame,
//                                     sampled every 20 ms for SECONDS, and
//                                     the fewest and most threads of its
//                                     process meanwhile
//   benchtool ticks SECONDS           drives extra poll ticks (WM_TIMER 1)
//                                     through the frame, one a millisecond,
//                                     for SECONDS (a tick that falls due
//                                     while a poll runs starts none), and
//                                     prints the process's memory before/after
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double NowMs() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

int TrayIconCount() {
    int count = 0;
    HWND tray = nullptr;
    while ((tray = FindWindowExW(nullptr, tray, L"__winex11_standalone_tray", nullptr))) {
        HWND icon = nullptr;
        while ((icon = FindWindowExW(tray, icon, L"__winex11_tray_icon", nullptr))) ++count;
    }
    HWND shell = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (shell) ++count;  // a real taskbar: counted once, icons not visible here
    return count;
}

HWND Frame() { return FindWindowW(L"OrlimoMainFrame", nullptr); }

int TrayTime(const wchar_t* exe) {
    int before = TrayIconCount();
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> cmd(exe, exe + wcslen(exe) + 1);
    double start = NowMs();
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start program (%lu)\n", GetLastError());
        return 1;
    }
    double found = -1;
    while (NowMs() - start < 30000) {
        if (TrayIconCount() > before) {
            found = NowMs() - start;
            break;
        }
        Sleep(2);
    }
    if (HWND frame = Frame()) PostMessageW(frame, WM_COMMAND, 57665, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (found < 0) {
        fprintf(stderr, "no tray icon within 30 s\n");
        return 1;
    }
    printf("%.1f\n", found);
    return 0;
}

int ThreadCount(DWORD pid) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    int n = 0;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == pid) ++n;
    CloseHandle(snap);
    return n;
}

int UiBlock(double seconds) {
    HWND frame = Frame();
    if (!frame) {
        fprintf(stderr, "orlimo is not running\n");
        return 1;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(frame, &pid);
    std::vector<double> samples;
    int fewest = 1 << 30, most = 0;
    double end = NowMs() + seconds * 1000.0;
    while (NowMs() < end) {
        double t0 = NowMs();
        DWORD_PTR result;
        SendMessageTimeoutW(frame, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
        samples.push_back(NowMs() - t0);
        int threads = ThreadCount(pid);
        fewest = std::min(fewest, threads);
        most = std::max(most, threads);
        Sleep(20);
    }
    std::sort(samples.begin(), samples.end());
    printf("samples %zu median_ms %.1f max_ms %.1f threads %d..%d\n", samples.size(),
           samples[samples.size() / 2], samples.back(), fewest, most);
    return 0;
}

SIZE_T WorkingSet(DWORD pid, SIZE_T* priv) {
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof(pmc);
    if (h) {
        GetProcessMemoryInfo(h, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc));
        CloseHandle(h);
    }
    *priv = pmc.PrivateUsage;
    return pmc.WorkingSetSize;
}

int Ticks(double seconds) {
    HWND frame = Frame();
    if (!frame) {
        fprintf(stderr, "orlimo is not running\n");
        return 1;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(frame, &pid);
    SIZE_T priv0, priv1;
    SIZE_T ws0 = WorkingSet(pid, &priv0);
    double t0 = NowMs();
    long n = 0;
    while (NowMs() - t0 < seconds * 1000.0) {
        DWORD_PTR result;
        SendMessageTimeoutW(frame, WM_TIMER, 1, 0, SMTO_NORMAL, 30000, &result);
        ++n;
        Sleep(1);
    }
    double t1 = NowMs();
    Sleep(500);  // the last poll's answer
    SIZE_T ws1 = WorkingSet(pid, &priv1);
    printf("ticks %ld seconds %.1f working_set_kb %zu -> %zu private_kb %zu -> %zu\n", n,
           (t1 - t0) / 1000.0, ws0 / 1024, ws1 / 1024, priv0 / 1024, priv1 / 1024);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && wcscmp(argv[1], L"tray-time") == 0) return TrayTime(argv[2]);
    if (argc >= 3 && wcscmp(argv[1], L"ui-block") == 0) return UiBlock(_wtof(argv[2]));
    if (argc >= 3 && wcscmp(argv[1], L"ticks") == 0) return Ticks(_wtof(argv[2]));
    fprintf(stderr, "usage: benchtool tray-time EXE | ui-block SECONDS | ticks SECONDS\n");
    return 2;
}
