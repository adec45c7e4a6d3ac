# Where things go when installed, relative to the prefix. Libraries go to
# the multiarch folder, the plug-in to a folder of its own under it.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(ADS_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(ADS_LIBDIR lib)
endif()
set(ADS_PLUGINDIR ${ADS_LIBDIR}/beckhoff-ads)
set(ADS_INCLUDEDIR include/beckhoff-ads)
set(ADS_BINDIR bin)
set(ADS_DOCDIR share/doc/beckhoff-ads)
set(ADS_CMAKEDIR ${ADS_LIBDIR}/cmake/BeckhoffADS)
