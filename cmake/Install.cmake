# Install rules, the CMake package a host finds with
#   find_package(BeckhoffADS)
# which gives the imported target BeckhoffADS::CLabelVariable (with its
# include folder and Qt 5 Core) and BeckhoffADS_PLUGIN, the plug-in's path,
# and the pkg-config file beckhoff-ads.pc for qmake and make hosts.
#
# Components follow the Debian packages: runtime (the label library), dev
# (headers, link, CMake package, pkg-config file), tools (the plug-in, adsctl,
# ads-sim, their manual pages, the README).
include(CMakePackageConfigHelpers)

install(TARGETS CLabelVariable EXPORT BeckhoffADSTargets
  LIBRARY DESTINATION ${ADS_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${ADS_INCLUDEDIR})
install(FILES value/CLabelVariable.h driver/CDriveBaseClass.h DESTINATION ${ADS_INCLUDEDIR} COMPONENT dev)
install(TARGETS Beckhoff_ADS LIBRARY DESTINATION ${ADS_PLUGINDIR} COMPONENT tools NAMELINK_SKIP)
install(TARGETS adsctl ads-sim RUNTIME DESTINATION ${ADS_BINDIR} COMPONENT tools)
install(FILES packaging/man/adsctl.1 packaging/man/ads-sim.1 DESTINATION ${ADS_MANDIR}/man1 COMPONENT tools)
install(FILES README.md LICENSE DESTINATION ${ADS_DOCDIR} COMPONENT tools)

# Run paths of the installed files (see InstallDirs.cmake). ads-sim links no
# library of ours and needs none.
ads_install_runpath(_ads_bin_runpath ${ADS_BINDIR})
ads_install_runpath(_ads_plugin_runpath ${ADS_PLUGINDIR})
set_target_properties(adsctl PROPERTIES INSTALL_RPATH "${_ads_bin_runpath}")
set_target_properties(Beckhoff_ADS PROPERTIES INSTALL_RPATH "${_ads_plugin_runpath}")
set_target_properties(ads-sim PROPERTIES INSTALL_RPATH "")

install(EXPORT BeckhoffADSTargets NAMESPACE BeckhoffADS:: DESTINATION ${ADS_CMAKEDIR} COMPONENT dev)
set(ADS_PLUGIN_FILE ${ADS_PLUGINDIR}/libBeckhoff_ADS.so)
configure_package_config_file(cmake/BeckhoffADSConfig.cmake.in
  ${CMAKE_BINARY_DIR}/BeckhoffADSConfig.cmake
  INSTALL_DESTINATION ${ADS_CMAKEDIR}
  PATH_VARS ADS_PLUGIN_FILE ADS_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/BeckhoffADSConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/BeckhoffADSConfig.cmake ${CMAKE_BINARY_DIR}/BeckhoffADSConfigVersion.cmake
  DESTINATION ${ADS_CMAKEDIR} COMPONENT dev)

# The pkg-config file names the prefix the tree is installed to, known only at
# install time (cmake --install --prefix may differ from the configured one):
# configured now with every other field, and once more when installed.
foreach(_ads_dir LIBDIR PLUGINDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${ADS_${_ads_dir}}")
    set(ADS_PC_${_ads_dir} "${ADS_${_ads_dir}}")
  else()
    set(ADS_PC_${_ads_dir} "\${prefix}/${ADS_${_ads_dir}}")
  endif()
endforeach()
set(ADS_PC_PREFIX "@ADS_PC_PREFIX@")
configure_file(cmake/beckhoff-ads.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/beckhoff-ads.pc.in @ONLY)
install(CODE "
  set(ADS_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${CMAKE_BINARY_DIR}/pkgconfig/beckhoff-ads.pc.in\"
                 \"${CMAKE_BINARY_DIR}/pkgconfig/installed/beckhoff-ads.pc\" @ONLY)
  file(INSTALL \"${CMAKE_BINARY_DIR}/pkgconfig/installed/beckhoff-ads.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${ADS_PKGCONFIGDIR}\")
" COMPONENT dev)
