# A second compiler: Debian's clang for the x86_64-w64-mingw32 target, with
# the mingw-w64 headers and GCC's C++ library of the posix-thread flavour
# (the Win32 tests' GoogleTest needs std::mutex; winpthread is linked
# statically).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORLIMO_CLANG_TARGET x86_64-w64-mingw32)
set(ORLIMO_GCC_LIB /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${ORLIMO_CLANG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${ORLIMO_CLANG_TARGET})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${ORLIMO_GCC_LIB}/include/c++ -isystem ${ORLIMO_GCC_LIB}/include/c++/x86_64-w64-mingw32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${ORLIMO_GCC_LIB} -fuse-ld=bfd")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-L${ORLIMO_GCC_LIB} -fuse-ld=bfd")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The posix flavour's C++ and unwinding libraries need winpthread, linked
# statically; clang names them only after everything given here, so they
# are resolved together first, in one group.
set(ORLIMO_CLANG_RUNTIME "-Wl,--start-group -lstdc++ -lgcc -lgcc_eh -lpthread -Wl,--end-group")
set(CMAKE_C_STANDARD_LIBRARIES "${ORLIMO_CLANG_RUNTIME}" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "${ORLIMO_CLANG_RUNTIME}" CACHE STRING "" FORCE)
