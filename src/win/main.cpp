#include <windows.h>

#include "win/app.h"
#include "win/framework.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    orlimo::SetAppInstance(instance);
    orlimo::COrlimoApp& app = orlimo::TheApp();
    app.m_nCmdShow = show;
    if (!app.InitInstance()) return 0;
    return app.Run();
}
