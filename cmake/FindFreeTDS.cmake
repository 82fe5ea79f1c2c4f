# Finds FreeTDS's Client-Library (libct, with the CS- and Bulk-Library calls) and defines the
# imported target FreeTDS::ct. Debian ships FreeTDS without a CMake package or pkg-config file;
# the installed Norv package carries this module for the same reason.
find_path(FREETDS_INCLUDE_DIR NAMES ctpublic.h PATH_SUFFIXES freetds)
find_library(FREETDS_CT_LIBRARY NAMES ct)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(FreeTDS REQUIRED_VARS FREETDS_CT_LIBRARY FREETDS_INCLUDE_DIR)

# A consumer's own find_package(FreeTDS) may have defined it already.
if(FreeTDS_FOUND AND NOT TARGET FreeTDS::ct)
  add_library(FreeTDS::ct UNKNOWN IMPORTED)
  set_target_properties(FreeTDS::ct PROPERTIES
    IMPORTED_LOCATION "${FREETDS_CT_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${FREETDS_INCLUDE_DIR}")
endif()
mark_as_advanced(FREETDS_INCLUDE_DIR FREETDS_CT_LIBRARY)
