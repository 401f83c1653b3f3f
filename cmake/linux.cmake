# The Linux desktop front end (Qt 6 Widgets from Debian) and its Debian
# package: cmake --preset linux && cmake --build --preset linux --target package
find_package(Qt6 6.2 REQUIRED COMPONENTS Widgets Network DBus)
find_package(X11 REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
include(GNUInstallDirs)

set(ORLIMO_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/res/version.h.in ${ORLIMO_GENERATED}/orlimo_version.h @ONLY)

# The texts of the resource script, so both programs show the same words.
add_custom_command(
  OUTPUT ${ORLIMO_GENERATED}/orlimo_rc.h
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/rc_texts.py ${ORLIMO_GENERATED}/orlimo_rc.h
          ${CMAKE_SOURCE_DIR}/res/orlimo.rc ${CMAKE_SOURCE_DIR}/res/resource.h
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/rc_texts.py ${CMAKE_SOURCE_DIR}/res/orlimo.rc
          ${CMAKE_SOURCE_DIR}/res/resource.h
  COMMENT "Texts of res/orlimo.rc")

file(GLOB ORLIMO_LINUX_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/linux/*.cpp)
add_executable(orlimo ${ORLIMO_LINUX_SOURCES} ${ORLIMO_GENERATED}/orlimo_rc.h)
target_include_directories(orlimo PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res ${ORLIMO_GENERATED})
target_link_libraries(orlimo PRIVATE orlimo_core Qt6::Widgets Qt6::Network Qt6::DBus X11::xcb)
target_compile_options(orlimo PRIVATE -Wall -Wextra)

# The tray pictures, drawn by tools/make_icon_pngs.py, inside the program.
set(ORLIMO_ICON_DIR ${CMAKE_SOURCE_DIR}/res/linux/icons)
set(ORLIMO_TRAY_PNGS)
foreach(size 16 22 24 32 48 64)
  list(APPEND ORLIMO_TRAY_PNGS ${ORLIMO_ICON_DIR}/orlimo-${size}.png ${ORLIMO_ICON_DIR}/orlimo-white-${size}.png)
endforeach()
qt_add_resources(orlimo orlimo_icons PREFIX /icons BASE ${ORLIMO_ICON_DIR} FILES ${ORLIMO_TRAY_PNGS})

# The settings the package starts from: the build's server, nothing else set.
file(WRITE ${ORLIMO_GENERATED}/config.properties
  "server=${ORLIMO_DEFAULT_SERVER}\r\nuser_id=0\r\ninterval_time=1\r\nserver_port=80\r\nbookmark=\r\n")

set(ORLIMO_XDG_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg)
install(TARGETS orlimo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${ORLIMO_ICON_DIR}/orlimo-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME orlimo.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/res/linux/orlimo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/res/linux/orlimo-autostart.desktop
        DESTINATION ${ORLIMO_XDG_DIR}/autostart RENAME orlimo.desktop)
install(FILES ${ORLIMO_GENERATED}/config.properties DESTINATION ${ORLIMO_XDG_DIR}/orlimo)

# orlimo_VERSION_amd64.deb
set(ORLIMO_DEB_MAINTAINER "orlimo maintainers <orlimo@localhost>" CACHE STRING "Maintainer field of the Debian package")
file(WRITE ${ORLIMO_GENERATED}/deb/conffiles
  "${ORLIMO_XDG_DIR}/autostart/orlimo.desktop\n${ORLIMO_XDG_DIR}/orlimo/config.properties\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orlimo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Dunlore)
set(CPACK_PACKAGE_CONTACT ${ORLIMO_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray notifier for the enterprise web portal")
set(CPACK_PACKAGE_DESCRIPTION "orlimo lives in the desktop's notification area. It polls the portal for
new short messages and announces them, shows when the server cannot be
reached, and opens the portal's pages and favorite links in the default
web browser. Settings: /etc/xdg/orlimo/config.properties.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and C++ libraries from dpkg-shlibdeps, and what Qt loads at run
# time: the X11 platform plugin; xdg-open opens the addresses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-user-dirs, qt6-translations-l10n, fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ORLIMO_GENERATED}/deb/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
include(CPack)
