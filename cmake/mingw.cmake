# Shared part of the mingw-w64 toolchain files: each sets ORLIMO_MINGW_ARCH
# (i686 or x86_64) and ORLIMO_MINGW_THREADS (win32 for the programs, which
# keeps winpthreads out of them; posix for the Win32 tests, since
# GoogleTest needs std::mutex) and includes this file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ORLIMO_MINGW_ARCH})
set(CMAKE_C_COMPILER ${ORLIMO_MINGW_ARCH}-w64-mingw32-gcc-${ORLIMO_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${ORLIMO_MINGW_ARCH}-w64-mingw32-g++-${ORLIMO_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${ORLIMO_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORLIMO_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
