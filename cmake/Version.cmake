# The project's version is the project() line's; the package, the CMake and
# pkg-config packages and the library's file name take it from there.
#
# A reproducible build sets SOURCE_DATE_EPOCH (Debian's tools take it from
# the changelog): the build stamp then names that moment instead of the
# compiler's clock, so two builds of the same sources are identical.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not '$ENV{SOURCE_DATE_EPOCH}'")
  endif()
  target_compile_definitions(adsdriver PRIVATE ADS_BUILD_EPOCH=$ENV{SOURCE_DATE_EPOCH})
endif()
