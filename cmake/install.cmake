# What `cmake --install` puts under the prefix:
#   include/norv/{connection,query,controls}/*.h   the public headers
#   lib/libnorv_core.a, lib/libnorv_widgets.a
#   lib/cmake/Norv/                                 find_package(Norv): Norv::core, Norv::widgets
#   lib/pkgconfig/norv.pc
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(NORV_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/norv)
set(NORV_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Norv)

install(TARGETS norv_core norv_widgets EXPORT NorvTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  # The headers' folder is also the targets' include directory in an installation.
  FILE_SET HEADERS DESTINATION ${NORV_INSTALL_INCLUDEDIR})
install(EXPORT NorvTargets NAMESPACE Norv:: DESTINATION ${NORV_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/NorvConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/NorvConfig.cmake
  INSTALL_DESTINATION ${NORV_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/NorvConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/NorvConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/NorvConfigVersion.cmake
  ${CMAKE_CURRENT_LIST_DIR}/FindFreeTDS.cmake
  DESTINATION ${NORV_INSTALL_CMAKEDIR})

# norv.pc finds its prefix from where it lies, so an install with --prefix needs no reconfigure.
set(NORV_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(NORV_PC_PREFIX "\${pcfiledir}")
string(REPLACE "/" ";" pc_dir_parts ${NORV_PC_DIR})
foreach(part ${pc_dir_parts})
  string(APPEND NORV_PC_PREFIX "/..")
endforeach()
# Static libraries: Client-Library goes on every link line; its header folder only when it is not
# the compiler's own.
get_filename_component(NORV_PC_FREETDS_LIBDIR ${FREETDS_CT_LIBRARY} DIRECTORY)
set(NORV_PC_FREETDS_CFLAGS "")
if(NOT FREETDS_INCLUDE_DIR IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  set(NORV_PC_FREETDS_CFLAGS "-I${FREETDS_INCLUDE_DIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/norv.pc.in ${CMAKE_CURRENT_BINARY_DIR}/norv.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/norv.pc DESTINATION ${NORV_PC_DIR})
