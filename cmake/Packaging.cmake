# The Debian packages, built by scripts/package.sh with debhelper from the
# debian/ folder this writes into the build folder (from packaging/debian/):
#   libclabelvariable<SOVERSION>  the label library, named after its SONAME
#   libclabelvariable-dev         headers, the .so link, CMake and pkg-config files
#   beckhoff-ads                  the plug-in, adsctl and ads-sim
# Their version is the project's; the changelog's newest entry must name it.

# The one place the maintainer's name and address are written.
set(ADS_MAINTAINER "Beckhoff ADS driver maintainers <beckhoff-ads@example.org>")

get_target_property(ADS_SOVERSION CLabelVariable SOVERSION)
set(ADS_RUNTIME_PACKAGE libclabelvariable${ADS_SOVERSION})
set(ADS_DEV_PACKAGE libclabelvariable-dev)
set(ADS_TOOLS_PACKAGE beckhoff-ads)

set(_ads_debian_in ${PROJECT_SOURCE_DIR}/packaging/debian)
set(_ads_debian ${CMAKE_BINARY_DIR}/debian)
file(REMOVE_RECURSE ${_ads_debian})
configure_file(${_ads_debian_in}/control.in ${_ads_debian}/control @ONLY)
configure_file(${_ads_debian_in}/changelog.in ${_ads_debian}/changelog @ONLY)
configure_file(${_ads_debian_in}/runtime.install ${_ads_debian}/${ADS_RUNTIME_PACKAGE}.install COPYONLY)
configure_file(${_ads_debian_in}/dev.install ${_ads_debian}/${ADS_DEV_PACKAGE}.install COPYONLY)
configure_file(${_ads_debian_in}/tools.install ${_ads_debian}/${ADS_TOOLS_PACKAGE}.install COPYONLY)
file(COPY ${_ads_debian_in}/rules ${_ads_debian_in}/copyright ${_ads_debian_in}/not-installed
          ${_ads_debian_in}/source DESTINATION ${_ads_debian})
