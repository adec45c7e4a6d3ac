# Where things go when installed. Every destination comes from GNUInstallDirs,
# so CMAKE_INSTALL_LIBDIR=lib64 or a distribution's multiarch folder is
# honoured; with the prefix /usr on Debian, LIBDIR is lib/<multiarch>.
include(GNUInstallDirs)

set(ADS_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(ADS_PLUGINDIR ${ADS_LIBDIR}/beckhoff-ads)
set(ADS_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/beckhoff-ads)
set(ADS_BINDIR ${CMAKE_INSTALL_BINDIR})
set(ADS_MANDIR ${CMAKE_INSTALL_MANDIR})
set(ADS_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/beckhoff-ads)
set(ADS_CMAKEDIR ${ADS_LIBDIR}/cmake/BeckhoffADS)
set(ADS_PKGCONFIGDIR ${ADS_LIBDIR}/pkgconfig)

# An installed library folder the dynamic loader already searches (/usr/lib/
# <multiarch>) needs no run path; any other prefix gets one relative to each
# file, so that the installed tree can be moved as a whole.
set(ADS_LIBDIR_IS_SYSTEM OFF)
get_filename_component(_ads_full_libdir "${CMAKE_INSTALL_FULL_LIBDIR}" ABSOLUTE)
foreach(_ads_dir IN LISTS CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  get_filename_component(_ads_dir "${_ads_dir}" ABSOLUTE)
  if(_ads_dir STREQUAL _ads_full_libdir)
    set(ADS_LIBDIR_IS_SYSTEM ON)
  endif()
endforeach()

# The run path a file installed in DIR (relative to the prefix) needs to find
# the label library: empty in a system folder, else $ORIGIN/<DIR to LIBDIR>.
function(ads_install_runpath out dir)
  if(ADS_LIBDIR_IS_SYSTEM)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  file(RELATIVE_PATH rel "${CMAKE_INSTALL_PREFIX}/${dir}" "${CMAKE_INSTALL_PREFIX}/${ADS_LIBDIR}")
  string(REGEX REPLACE "/$" "" rel "${rel}")
  if(rel STREQUAL "")
    set(${out} "$ORIGIN" PARENT_SCOPE)
  else()
    set(${out} "$ORIGIN/${rel}" PARENT_SCOPE)
  endif()
endfunction()
