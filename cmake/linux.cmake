# The Linux desktop front end (Qt Widgets from Debian) and its Debian
# package: cmake --preset linux && cmake --build --preset linux --target package
# Qt 6 by default; ORLIMO_QT_MAJOR=5 (preset linux-qt5) builds the same
# sources with Qt 5.
set(ORLIMO_QT_MAJOR 6 CACHE STRING "Qt major version of the Linux front end: 6 or 5")
set_property(CACHE ORLIMO_QT_MAJOR PROPERTY STRINGS 6 5)
if(ORLIMO_QT_MAJOR STREQUAL "6")
  find_package(Qt6 6.2 REQUIRED COMPONENTS Widgets Network DBus)
elseif(ORLIMO_QT_MAJOR STREQUAL "5")
  # X11Extras: Qt 5's way to Qt's own X connection.
  find_package(Qt5 5.10 REQUIRED COMPONENTS Widgets Network DBus X11Extras)
else()
  message(FATAL_ERROR "ORLIMO_QT_MAJOR is 6 or 5, not '${ORLIMO_QT_MAJOR}'")
endif()
set(ORLIMO_QT Qt${ORLIMO_QT_MAJOR})
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
target_link_libraries(orlimo PRIVATE orlimo_core ${ORLIMO_QT}::Widgets ${ORLIMO_QT}::Network ${ORLIMO_QT}::DBus X11::xcb
                      ${CMAKE_DL_LIBS})
if(ORLIMO_QT_MAJOR STREQUAL "5")
  target_link_libraries(orlimo PRIVATE Qt5::X11Extras)
endif()
target_compile_options(orlimo PRIVATE -Wall -Wextra)
# The administrator's policy file. Not read from the environment, which a
# user controls; the tests put another file at this path in a mount
# namespace of their own.
target_compile_definitions(orlimo PRIVATE ORLIMO_POLICY_FILE="${CMAKE_INSTALL_FULL_SYSCONFDIR}/orlimo/policy.properties")
# Relocations read-only before the program runs, as Debian builds its own;
# and only the libraries it calls into become its (and the package's)
# dependencies: Qt6::Gui's link interface names libGLX and libOpenGL, which
# a linker without Debian's --as-needed default would make them.
target_link_options(orlimo PRIVATE -Wl,-z,relro,-z,now -Wl,--as-needed)

# The tray pictures, drawn by tools/make_icon_pngs.py, inside the program.
set(ORLIMO_ICON_DIR ${CMAKE_SOURCE_DIR}/res/linux/icons)
# A resource file of its own, which rcc of Qt 5 and Qt 6 both read.
set(ORLIMO_ICONS_QRC "<RCC>\n  <qresource prefix=\"/icons\">\n")
foreach(size 16 22 24 32 48 64)
  foreach(png orlimo-${size}.png orlimo-white-${size}.png)
    string(APPEND ORLIMO_ICONS_QRC "    <file alias=\"${png}\">${ORLIMO_ICON_DIR}/${png}</file>\n")
  endforeach()
endforeach()
string(APPEND ORLIMO_ICONS_QRC "  </qresource>\n</RCC>\n")
file(CONFIGURE OUTPUT ${ORLIMO_GENERATED}/orlimo_icons.qrc CONTENT "${ORLIMO_ICONS_QRC}" @ONLY)
# moc for the one class with a D-Bus slot (tray_host.h).
set_target_properties(orlimo PROPERTIES AUTORCC ON AUTOMOC ON)
target_sources(orlimo PRIVATE ${ORLIMO_GENERATED}/orlimo_icons.qrc)

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

# orlimo_VERSION_ARCH.deb (amd64, or arm64 from preset linux-arm64)
set(ORLIMO_DEB_MAINTAINER "orlimo maintainers <orlimo@dunlore.com>" CACHE STRING
    "Maintainer field of the Debian package: a name and a mail address that reaches them")
set(CPACK_PACKAGE_VENDOR Dunlore)
# The package's architecture is the program's: CPack would name the build
# machine's (dpkg --print-architecture) for a cross build too.
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE ORLIMO_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
else()
  execute_process(COMMAND dpkg --print-architecture
                  OUTPUT_VARIABLE ORLIMO_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT ORLIMO_DEB_ARCH)
  message(FATAL_ERROR "no Debian architecture for ${CMAKE_SYSTEM_PROCESSOR} (dpkg-dev installed?)")
endif()
set(ORLIMO_DEB_ARCH ${ORLIMO_DEB_ARCH} CACHE INTERNAL "Architecture field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ORLIMO_DEB_ARCH})

# What Debian's policy asks of every package: the copyright file, the
# changelog and the manual page (compressed as lintian wants: gzip -9n), and
# the AppStream metadata by which software centres list the program.
set(ORLIMO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/orlimo)
configure_file(${CMAKE_SOURCE_DIR}/res/linux/copyright ${ORLIMO_GENERATED}/deb/copyright @ONLY)

# The changelog's top entry is the project's release, with its version and
# date. A version stamped from outside (ORLIMO_VERSION) gets an entry of its
# own above it, dated SOURCE_DATE_EPOCH when that is set (string(TIMESTAMP)
# reads it), else the time of configuring, and never earlier than the entry
# below (lintian: latest-changelog-entry-without-new-date). The AppStream
# release entry carries the top entry's version and day.
configure_file(${CMAKE_SOURCE_DIR}/res/linux/changelog ${ORLIMO_GENERATED}/deb/changelog.project @ONLY)
file(READ ${ORLIMO_GENERATED}/deb/changelog.project ORLIMO_CHANGELOG)
file(STRINGS ${ORLIMO_GENERATED}/deb/changelog.project ORLIMO_CHANGELOG_TOP LIMIT_COUNT 1)
file(STRINGS ${ORLIMO_GENERATED}/deb/changelog.project ORLIMO_CHANGELOG_TRAILERS REGEX "^ -- ")
if(ORLIMO_CHANGELOG_TRAILERS)
  list(GET ORLIMO_CHANGELOG_TRAILERS 0 ORLIMO_CHANGELOG_TRAILER)
endif()
if(NOT ORLIMO_CHANGELOG_TOP MATCHES "^orlimo \\(([^)]+)\\) ")
  message(FATAL_ERROR "res/linux/changelog: its first line is no \"orlimo (VERSION) ...\"")
endif()
set(ORLIMO_CHANGELOG_VERSION ${CMAKE_MATCH_1})
if(NOT ORLIMO_CHANGELOG_TRAILER MATCHES "^ -- .*>  (.+)$")
  message(FATAL_ERROR "res/linux/changelog: its first entry ends in no \" -- NAME <ADDRESS>  DATE\"")
endif()
set(ORLIMO_CHANGELOG_DATE ${CMAKE_MATCH_1})
function(orlimo_date out)  # out ARGS...: GNU date's output in the C locale, UTC
  execute_process(COMMAND env LC_ALL=C date -u ${ARGN} OUTPUT_VARIABLE text
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "date -u ${ARGN} failed")
  endif()
  set(${out} ${text} PARENT_SCOPE)
endfunction()
orlimo_date(ORLIMO_RELEASE_TIME -d "${ORLIMO_CHANGELOG_DATE}" +%s)
if(PROJECT_VERSION STREQUAL ORLIMO_CHANGELOG_VERSION)
  configure_file(${ORLIMO_GENERATED}/deb/changelog.project ${ORLIMO_GENERATED}/deb/changelog COPYONLY)
elseif(NOT ORLIMO_VERSION)
  message(FATAL_ERROR "res/linux/changelog's top entry is version ${ORLIMO_CHANGELOG_VERSION}, the project's "
          "${PROJECT_VERSION}: give ${PROJECT_VERSION} its entry")
else()
  string(TIMESTAMP ORLIMO_STAMP_TIME "%s" UTC)
  if(ORLIMO_STAMP_TIME LESS_EQUAL ORLIMO_RELEASE_TIME)
    math(EXPR ORLIMO_STAMP_TIME "${ORLIMO_RELEASE_TIME} + 1")
  endif()
  set(ORLIMO_RELEASE_TIME ${ORLIMO_STAMP_TIME})
  orlimo_date(ORLIMO_STAMP_DATE -d @${ORLIMO_RELEASE_TIME} -R)
  file(WRITE ${ORLIMO_GENERATED}/deb/changelog.stamped
    "orlimo (${PROJECT_VERSION}) stable; urgency=medium\n\n"
    "  * orlimo ${ORLIMO_CHANGELOG_VERSION} (the entry below), built as version ${PROJECT_VERSION}.\n\n"
    " -- ${ORLIMO_DEB_MAINTAINER}  ${ORLIMO_STAMP_DATE}\n\n${ORLIMO_CHANGELOG}")
  configure_file(${ORLIMO_GENERATED}/deb/changelog.stamped ${ORLIMO_GENERATED}/deb/changelog COPYONLY)
endif()
orlimo_date(ORLIMO_RELEASE_DATE -d @${ORLIMO_RELEASE_TIME} +%F)
configure_file(${CMAKE_SOURCE_DIR}/res/linux/orlimo.1 ${ORLIMO_GENERATED}/deb/orlimo.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/res/linux/orlimo.metainfo.xml
               ${ORLIMO_GENERATED}/deb/com.dunlore.orlimo.metainfo.xml @ONLY)
set(ORLIMO_GZIPPED)
foreach(doc changelog orlimo.1)
  add_custom_command(OUTPUT ${ORLIMO_GENERATED}/deb/${doc}.gz
    COMMAND gzip -9n -c ${ORLIMO_GENERATED}/deb/${doc} > ${ORLIMO_GENERATED}/deb/${doc}.gz
    DEPENDS ${ORLIMO_GENERATED}/deb/${doc} VERBATIM)
  list(APPEND ORLIMO_GZIPPED ${ORLIMO_GENERATED}/deb/${doc}.gz)
endforeach()
add_custom_target(orlimo_docs ALL DEPENDS ${ORLIMO_GZIPPED})
install(FILES ${ORLIMO_GENERATED}/deb/copyright ${ORLIMO_GENERATED}/deb/changelog.gz DESTINATION ${ORLIMO_DOC_DIR})
install(FILES ${ORLIMO_GENERATED}/deb/orlimo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ORLIMO_GENERATED}/deb/com.dunlore.orlimo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

file(WRITE ${ORLIMO_GENERATED}/deb/conffiles
  "${ORLIMO_XDG_DIR}/autostart/orlimo.desktop\n${ORLIMO_XDG_DIR}/orlimo/config.properties\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orlimo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ORLIMO_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray notifier for the enterprise web portal")
set(CPACK_PACKAGE_DESCRIPTION "orlimo lives in the desktop's notification area. It polls the portal for
new short messages and announces them, shows when the server cannot be
reached, and opens the portal's pages and favorite links in the default
web browser. Settings: /etc/xdg/orlimo/config.properties.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: the libraries the program links (dpkg-shlibdeps), xdg-utils
# (xdg-open opens the addresses) and the package of Qt's X11 platform plugin,
# which Qt loads at run time, where that is not the Qt GUI library's own
# (Debian 12 keeps the plugin in libqt6gui6 and libqt5gui5; its Qt 6 before
# 6.3.1+dfsg-6 kept it in qt6-qpa-plugins).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
function(orlimo_owner file out)  # the package that installed FILE, or ""
  set(${out} "" PARENT_SCOPE)
  if(NOT file OR NOT EXISTS ${file})
    return()
  endif()
  set(paths ${file})
  if(file MATCHES "^/usr(/.*)$")  # a merged /usr: dpkg may know either name
    list(APPEND paths ${CMAKE_MATCH_1})
  else()
    list(APPEND paths /usr${file})
  endif()
  foreach(path ${paths})
    execute_process(COMMAND dpkg-query -S ${path} OUTPUT_VARIABLE owner ERROR_QUIET)
    if(owner MATCHES "^([a-z0-9][a-z0-9+.-]*)(:[a-z0-9]+)?: ")  # "PACKAGE[:ARCH]: FILE"
      set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()
if(ORLIMO_QT_MAJOR STREQUAL "6")
  set(ORLIMO_QT_XCB_PLUGIN ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/platforms/libqxcb.so)
  set(ORLIMO_QT_TRANSLATIONS qt6-translations-l10n)
else()
  set(ORLIMO_QT_XCB_PLUGIN "")
  if(TARGET Qt5::QXcbIntegrationPlugin)
    get_target_property(ORLIMO_QT_XCB_PLUGIN Qt5::QXcbIntegrationPlugin LOCATION)
  endif()
  set(ORLIMO_QT_TRANSLATIONS qttranslations5-l10n)
endif()
get_target_property(ORLIMO_QT_GUI_LIBRARY ${ORLIMO_QT}::Gui LOCATION)
orlimo_owner("${ORLIMO_QT_XCB_PLUGIN}" ORLIMO_QT_XCB_PACKAGE)
orlimo_owner("${ORLIMO_QT_GUI_LIBRARY}" ORLIMO_QT_GUI_PACKAGE)
set(CPACK_DEBIAN_PACKAGE_DEPENDS xdg-utils)
if(NOT ORLIMO_QT_XCB_PACKAGE)
  message(WARNING "No package holds Qt's X11 platform plugin ${ORLIMO_QT_XCB_PLUGIN}: "
          "the package does not depend on it")
elseif(NOT ORLIMO_QT_XCB_PACKAGE STREQUAL ORLIMO_QT_GUI_PACKAGE)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ORLIMO_QT_XCB_PACKAGE}, xdg-utils")
endif()
# Suggests what a desktop may lack: GNOME Shell shows no tray icon without
# its AppIndicator extension. A Qt network library built with libproxy
# (Debian's Qt 6; its Qt 5 reads only the environment's http_proxy and the
# like) takes the desktop's proxy settings through libproxy's plugins:
# GNOME's and MATE's (GSettings), KDE Plasma's (KConfig), and for an
# automatic configuration (a PAC script, WPAD) the one that runs the script
# (WebKit's JavaScript engine). Suggests, not Recommends: apt would install
# a GNOME Shell extension (and GNOME Shell) on every other desktop.
get_target_property(ORLIMO_QT_NETWORK_LIBRARY ${ORLIMO_QT}::Network LOCATION)
set(ORLIMO_READELF ${CMAKE_READELF})
if(NOT ORLIMO_READELF)
  set(ORLIMO_READELF readelf)
endif()
execute_process(COMMAND ${ORLIMO_READELF} -d ${ORLIMO_QT_NETWORK_LIBRARY}
                OUTPUT_VARIABLE ORLIMO_QT_NETWORK_DYNAMIC ERROR_QUIET)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gnome-shell-extension-appindicator)
if(ORLIMO_QT_NETWORK_DYNAMIC MATCHES "\\[libproxy\\.so")
  string(APPEND CPACK_DEBIAN_PACKAGE_SUGGESTS
         ", libproxy1-plugin-gsettings, libproxy1-plugin-kconfig, libproxy1-plugin-webkit")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-user-dirs, ${ORLIMO_QT_TRANSLATIONS}, fonts-noto-cjk | fonts-wqy-microhei")
# preinst keeps the system settings file an upgrade replaces (users' copies
# made before follow the new one where they equal it); postrm purge removes it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ORLIMO_GENERATED}/deb/conffiles
    ${CMAKE_SOURCE_DIR}/res/linux/preinst ${CMAKE_SOURCE_DIR}/res/linux/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
include(CPack)
