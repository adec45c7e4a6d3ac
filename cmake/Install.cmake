# Install rules and the CMake package a host finds with
#   find_package(BeckhoffADS)
# which gives the imported target BeckhoffADS::CLabelVariable (with its
# include folder and Qt 5 Core) and BeckhoffADS_PLUGIN, the plug-in's path.
include(CMakePackageConfigHelpers)

install(TARGETS CLabelVariable EXPORT BeckhoffADSTargets
  LIBRARY DESTINATION ${ADS_LIBDIR}
  INCLUDES DESTINATION ${ADS_INCLUDEDIR})
install(FILES value/CLabelVariable.h driver/CDriveBaseClass.h DESTINATION ${ADS_INCLUDEDIR})
install(TARGETS Beckhoff_ADS LIBRARY DESTINATION ${ADS_PLUGINDIR} NAMELINK_SKIP)
install(TARGETS adsctl ads-sim RUNTIME DESTINATION ${ADS_BINDIR})
install(FILES README.md LICENSE DESTINATION ${ADS_DOCDIR})

install(EXPORT BeckhoffADSTargets NAMESPACE BeckhoffADS:: DESTINATION ${ADS_CMAKEDIR})
set(ADS_PLUGIN_FILE ${ADS_PLUGINDIR}/libBeckhoff_ADS.so)
configure_package_config_file(cmake/BeckhoffADSConfig.cmake.in
  ${CMAKE_BINARY_DIR}/BeckhoffADSConfig.cmake
  INSTALL_DESTINATION ${ADS_CMAKEDIR}
  PATH_VARS ADS_PLUGIN_FILE ADS_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/BeckhoffADSConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/BeckhoffADSConfig.cmake ${CMAKE_BINARY_DIR}/BeckhoffADSConfigVersion.cmake
  DESTINATION ${ADS_CMAKEDIR})
