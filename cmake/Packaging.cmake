# The Debian package: cpack -G DEB in the build folder. Its version is the
# project's; its dependencies are computed from the libraries it links.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME beckhoff-ads)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Beckhoff ADS driver developers")
set(CPACK_PACKAGE_CONTACT "Beckhoff ADS driver developers <ads-driver@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ADS PLC driver plug-in for Qt 5 hosts, with adsctl and ads-sim")
set(CPACK_PACKAGE_DESCRIPTION
  "A plug-in that a Qt 5 HMI or SCADA host loads at run time to read and write\nvariables of a controller over ADS, on TCP or a serial line; the label value\nlibrary and headers a host compiles against; adsctl, a host for the shell;\nand ads-sim, a simulated controller.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
