/* A stand-in for a wininet.dll that a web page dropped into a downloads
   folder beside orlimo.exe. The end-to-end tests copy it there under that
   name; when any process loads it, it leaves "wininet.dll.loaded" beside
   itself, holding the path of the program that loaded it. It exports
   nothing: a program that takes WinINet from it cannot poll. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID unused) {
    (void)unused;
    if (reason == DLL_PROCESS_ATTACH) {
        WCHAR mark[MAX_PATH + 16];
        char program[MAX_PATH];
        DWORD n = GetModuleFileNameW(self, mark, MAX_PATH);
        DWORD len = GetModuleFileNameA(NULL, program, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            HANDLE h;
            lstrcatW(mark, L".loaded");
            h = CreateFileW(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (h != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                WriteFile(h, program, len, &written, NULL);
                CloseHandle(h);
            }
        }
    }
    return TRUE;
}
