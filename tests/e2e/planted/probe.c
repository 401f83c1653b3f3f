/* Loads "wininet.dll" by its bare name, as a program that imports it
   does: the end-to-end tests run it beside the planted wininet.dll to show
   that the plant is loaded there (exit 0 when something loaded). */
#include <windows.h>

int main(void) { return LoadLibraryW(L"wininet.dll") ? 0 : 1; }
