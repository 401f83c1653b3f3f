# Win32 tests of the 32-bit build (posix-thread runtime).
set(ORLIMO_MINGW_ARCH i686)
set(ORLIMO_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
