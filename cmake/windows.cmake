# The Windows program, its Win32 test tier and the end-to-end test driver.
enable_language(RC)

set(ORLIMO_WIN_FLAGS -Wall -Wextra -Wno-unused-parameter -Wno-cast-function-type)
set(ORLIMO_STATIC_LINK -static -static-libgcc -static-libstdc++ -Wl,--gc-sections)
add_compile_options(-ffunction-sections -fdata-sections)

file(GLOB ORLIMO_WIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/win/*.cpp)
list(FILTER ORLIMO_WIN_SOURCES EXCLUDE REGEX ".*/main\\.cpp$")

# The part of the Windows layer that the installer's custom actions share
# with the program: replacing a file as one step, and the Run value. No
# window, message box or resource of the program's; kernel32 and advapi32
# only.
set(ORLIMO_WIN_BASE_SOURCES ${CMAKE_SOURCE_DIR}/src/win/atomic_file.cpp ${CMAKE_SOURCE_DIR}/src/win/registry.cpp)
list(REMOVE_ITEM ORLIMO_WIN_SOURCES ${ORLIMO_WIN_BASE_SOURCES})
add_library(orlimo_win_base STATIC ${ORLIMO_WIN_BASE_SOURCES})
target_include_directories(orlimo_win_base PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(orlimo_win_base PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
  _WIN32_WINNT=0x0501 WINVER=0x0501 _WIN32_IE=0x0600)
target_compile_options(orlimo_win_base PRIVATE ${ORLIMO_WIN_FLAGS})
target_link_libraries(orlimo_win_base PUBLIC advapi32)

# Everything of the program except its entry point, so the Win32 tests can
# link the same adapters.
add_library(orlimo_win STATIC ${ORLIMO_WIN_SOURCES})
target_include_directories(orlimo_win PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res)
target_compile_options(orlimo_win PRIVATE ${ORLIMO_WIN_FLAGS})
# No wininet: WinINet is no KnownDLL, and the program loads it from the
# system folder at run time (src/win/system_dll.h); without its import
# library a direct call fails to link instead of adding an import.
target_link_libraries(orlimo_win PUBLIC orlimo_win_base orlimo_core shell32 ole32 uuid comctl32 advapi32 user32 gdi32)

# The project version, defined once, reaches the version resource, the about
# box and the manifest through files made here.
set(ORLIMO_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/res/version.h.in ${ORLIMO_GENERATED}/orlimo_version.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/res/orlimo.manifest.in ${ORLIMO_GENERATED}/orlimo.manifest @ONLY)
include_directories(${ORLIMO_GENERATED})

set(ORLIMO_RC ${CMAKE_SOURCE_DIR}/res/orlimo.rc)
file(GLOB ORLIMO_ICONS ${CMAKE_SOURCE_DIR}/res/*.ico)
set_source_files_properties(${ORLIMO_RC} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/res/resource.h;${ORLIMO_GENERATED}/orlimo_version.h;${ORLIMO_GENERATED}/orlimo.manifest;${ORLIMO_ICONS}")
add_executable(orlimo WIN32 ${CMAKE_SOURCE_DIR}/src/win/main.cpp ${ORLIMO_RC})
target_compile_options(orlimo PRIVATE ${ORLIMO_WIN_FLAGS})
target_link_libraries(orlimo PRIVATE orlimo_win)
target_link_options(orlimo PRIVATE ${ORLIMO_STATIC_LINK} -municode -s)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
target_include_directories(orlimo PRIVATE ${CMAKE_SOURCE_DIR}/res)

option(ORLIMO_WIN_TESTS "Build the Win32 tests (needs the posix-thread compilers)" OFF)
if(ORLIMO_WIN_TESTS)
  # GoogleTest from Debian's source package, built with the posix-thread compiler.
  set(GTEST_SRC /usr/src/googletest/googletest)
  add_library(gtest_win STATIC ${GTEST_SRC}/src/gtest-all.cc ${GTEST_SRC}/src/gtest_main.cc)
  target_include_directories(gtest_win SYSTEM PUBLIC ${GTEST_SRC}/include PRIVATE ${GTEST_SRC})

  file(GLOB ORLIMO_WINTEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
  if(ORLIMO_WINTEST_SOURCES)
    add_executable(win_tests ${ORLIMO_WINTEST_SOURCES} ${ORLIMO_RC})
    target_link_libraries(win_tests PRIVATE orlimo_win gtest_win ws2_32)
    target_link_options(win_tests PRIVATE ${ORLIMO_STATIC_LINK})
  endif()
endif()

# End-to-end driver (a console program that pokes at the running orlimo.exe)
# and the helper library it loads into orlimo.exe to read its open menu.
file(GLOB ORLIMO_DRIVER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/driver/driver*.cpp)
if(ORLIMO_DRIVER_SOURCES)
  add_executable(orlimo-driver ${ORLIMO_DRIVER_SOURCES})
  target_compile_definitions(orlimo-driver PRIVATE UNICODE _UNICODE)
  target_link_libraries(orlimo-driver PRIVATE user32 gdi32 advapi32 comctl32 shell32 ole32 uuid)
  target_link_options(orlimo-driver PRIVATE ${ORLIMO_STATIC_LINK} -municode)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/driver/menudump.cpp)
  add_library(menudump SHARED ${CMAKE_SOURCE_DIR}/tools/driver/menudump.cpp)
  set_target_properties(menudump PROPERTIES PREFIX "")
  target_compile_definitions(menudump PRIVATE UNICODE _UNICODE)
  target_link_libraries(menudump PRIVATE user32)
  target_link_options(menudump PRIVATE ${ORLIMO_STATIC_LINK} -Wl,--kill-at)
endif()

# The end-to-end tests' planted DLL (copied beside the program as
# wininet.dll; it leaves a file when loaded) and a probe that loads
# "wininet.dll" by name, as a program importing it would. Built only when
# asked for (tests/e2e/test_dlls.py does).
add_library(planted-wininet SHARED EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/e2e/planted/wininet.c)
set_target_properties(planted-wininet PROPERTIES PREFIX "")
add_executable(planted-probe EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/e2e/planted/probe.c)
foreach(t planted-wininet planted-probe)
  target_compile_options(${t} PRIVATE ${ORLIMO_WIN_FLAGS})
  target_link_options(${t} PRIVATE ${ORLIMO_STATIC_LINK})
endforeach()

# The installer packages' custom actions (our own code; no scripts), and the
# package itself: cmake --build --preset mingw-ARCH --target installer. The
# actions link only the Windows layer's base and the core, not the
# program's windows.
add_library(orlimo-setup SHARED ${CMAKE_SOURCE_DIR}/src/setup/actions.cpp ${CMAKE_SOURCE_DIR}/src/setup/setup.rc)
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/setup/setup.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/src/setup/setup_resource.h;${ORLIMO_GENERATED}/orlimo_version.h")
set_target_properties(orlimo-setup PROPERTIES PREFIX "")
target_include_directories(orlimo-setup PRIVATE ${CMAKE_SOURCE_DIR}/src/setup)
target_compile_options(orlimo-setup PRIVATE ${ORLIMO_WIN_FLAGS})
# No msi: msi.dll is no KnownDLL; the actions load it from the system folder.
target_link_libraries(orlimo-setup PRIVATE orlimo_win_base orlimo_core ole32 user32 advapi32)
target_link_options(orlimo-setup PRIVATE ${ORLIMO_STATIC_LINK} -Wl,--kill-at -s)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(ORLIMO_MSI_ARCH x64)
else()
  set(ORLIMO_MSI_ARCH x86)
endif()
set(ORLIMO_MSI ${CMAKE_BINARY_DIR}/orlimo-${PROJECT_VERSION}-${ORLIMO_MSI_ARCH}.msi)
add_custom_command(OUTPUT ${ORLIMO_MSI}
  COMMAND bash ${CMAKE_SOURCE_DIR}/tools/msi.sh ${CMAKE_SYSTEM_PROCESSOR} ${PROJECT_VERSION}
          $<TARGET_FILE_DIR:orlimo> ${ORLIMO_MSI}
  DEPENDS orlimo orlimo-setup ${CMAKE_SOURCE_DIR}/res/orlimo.wxs ${CMAKE_SOURCE_DIR}/tools/msi.sh
  VERBATIM)
add_custom_target(installer DEPENDS ${ORLIMO_MSI})

# Measuring tool of the benchmark scripts.
add_executable(benchtool ${CMAKE_SOURCE_DIR}/tools/bench/benchtool.cpp)
target_compile_definitions(benchtool PRIVATE UNICODE _UNICODE)
target_link_libraries(benchtool PRIVATE user32 psapi)
target_link_options(benchtool PRIVATE ${ORLIMO_STATIC_LINK} -municode)
