#include <windows.h>

#include <cstdlib>

#include "win/app.h"
#include "win/framework.h"
#include "win/system_dll.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    orlimo::SearchDllsInSystemFolderOnly();  // before anything loads a DLL
    orlimo::SetAppInstance(instance);
    orlimo::COrlimoApp& app = orlimo::TheApp();
    if (!app.InitInstance(arguments)) return 0;
    return app.Run();
}

// The library's verbose terminate handler drags in the C++ name demangler
// (about a sixth of the program); a GUI program has nowhere to print to.
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx
