# `cpack -G DEB` (scripts/dev.sh package) builds three Debian packages from the install components:
#   libnorv-dev        headers, static libraries, the CMake package Norv and norv.pc (component dev)
#   norv-tools         norvdemo, norvmonitor and norvsql, with desktop entries and icons (tools)
#   norv-sampleserver  the sample server and its systemd unit, installed but not enabled
#                      (sampleserver)
# Dependencies are named explicitly from Debian 12's packages: dpkg-shlibdeps would also work, but
# it needs the libraries' -dev packages' symbols files and gives the -dev package nothing.

# norvsql is built on its own branch; it is packaged whenever the target exists.
if(TARGET norvsql)
  install(TARGETS norvsql RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()

# The windowed programs appear in the desktop's menus.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/norvdemo.desktop
  ${PROJECT_SOURCE_DIR}/packaging/norvmonitor.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/norvdemo.svg
  ${PROJECT_SOURCE_DIR}/packaging/icons/norvmonitor.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tools)

# Relative, so that `cmake --install --prefix` never writes outside its prefix; the package puts it
# under /usr/lib/systemd/system, where systemd reads units shipped by packages.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/norv-sampleserver.service
  DESTINATION lib/systemd/system COMPONENT sampleserver)

# A stripped install (cpack strips, as does cmake --install --strip) also drops the static
# libraries' debug sections, as Debian's own -dev packages do: they are most of the archives' size.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(archive $<TARGET_FILE_NAME:norv_core> $<TARGET_FILE_NAME:norv_widgets>)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/\${archive}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()" COMPONENT dev)

set(CPACK_PACKAGE_NAME norv)
set(CPACK_PACKAGE_VENDOR "The Norv developers")
set(CPACK_PACKAGE_CONTACT "Norv developers <norv@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL dev tools sampleserver)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)

# The compiler's C++ runtime the binaries were built against (GCC 12 on Debian 12).
set(NORV_DEB_CXX_RUNTIME "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
set(NORV_DEB_QT_VERSION 6.4)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libnorv-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# Static libraries: a program built on them links Qt and Client-Library itself.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "qt6-base-dev (>= ${NORV_DEB_QT_VERSION}), freetds-dev (>= 1.3)")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Norv components for Sybase servers: development files
The connection, query and data-bound widget components as static libraries for C++20 and
Qt 6, over FreeTDS's Client-Library. Includes the headers under /usr/include/norv, the CMake
package Norv (find_package(Norv): Norv::core, Norv::widgets) and the pkg-config file norv.pc.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME norv-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION database)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
  "libqt6core6 (>= ${NORV_DEB_QT_VERSION}), libqt6gui6 (>= ${NORV_DEB_QT_VERSION}), \
libqt6widgets6 (>= ${NORV_DEB_QT_VERSION}), libqt6network6 (>= ${NORV_DEB_QT_VERSION}), \
libqt6printsupport6 (>= ${NORV_DEB_QT_VERSION}), libct4 (>= 1.3), ${NORV_DEB_CXX_RUNTIME}")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "Norv programs for Sybase servers
norvdemo, a desktop program browsing a server's databases, tables and procedures;
norvmonitor, a window showing the trace lines of every Norv program; and norvsql, an
isql-compatible command-line client. Servers are named in $SYBASE/INI/SQL.INI.")

set(CPACK_DEBIAN_SAMPLESERVER_PACKAGE_NAME norv-sampleserver)
set(CPACK_DEBIAN_SAMPLESERVER_PACKAGE_SECTION database)
set(CPACK_DEBIAN_SAMPLESERVER_PACKAGE_DEPENDS "libsqlite3-0 (>= 3.35), ${NORV_DEB_CXX_RUNTIME}")
set(CPACK_COMPONENT_SAMPLESERVER_DESCRIPTION
  "Sybase-compatible sample server for Norv
A TDS 5.0 server executing Transact-SQL on SQLite, with the pubs2 sample database. Run it
with sampleserver --port N --data DIR, or through the systemd unit norv-sampleserver.service
(installed, not enabled: port 5000 on 127.0.0.1, databases in /var/lib/norv-sampleserver).")

include(CPack)
