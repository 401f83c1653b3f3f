# The 32-bit program (win32-thread runtime).
set(ORLIMO_MINGW_ARCH i686)
set(ORLIMO_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
