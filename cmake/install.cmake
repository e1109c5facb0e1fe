# SPDX-License-Identifier: MIT
# What `cmake --install` puts under the prefix:
#   bin/                          median_bench and median_compare, where built
#                                 (MEDIAN_BUILD_PROGRAM: not on ARM64)
#   lib/libmedian.a               the engine
#   include/median/median.h       the C interface: median_filter_u8, _u16, _f32
#   include/median/median5x5.h    the 5x5 calls (includes median.h)
#   include/median/median_filter.h the C++ interface (includes both)
#   lib/cmake/median/             the package: find_package(median CONFIG)
#                                 gives median::median, which brings OpenMP
#   lib/pkgconfig/median.pc       the same for pkg-config
# (lib is CMAKE_INSTALL_LIBDIR.)  Included last, once every target exists.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MEDIAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/median)

if(TARGET median_bench)
  install(TARGETS median_bench RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET median_compare)
  install(TARGETS median_compare RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Installed, the library's include directory is the prefix's include/, which
# holds nothing but the three public headers: the engine's internal headers and
# the rest of the source tree stay out of users' sight.
install(TARGETS median EXPORT median_targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/median/median.h ${PROJECT_SOURCE_DIR}/median/median5x5.h
  ${PROJECT_SOURCE_DIR}/median/median_filter.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/median)

install(EXPORT median_targets NAMESPACE median:: FILE median-targets.cmake
  DESTINATION ${MEDIAN_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/median-config.cmake.in
  ${PROJECT_BINARY_DIR}/median-config.cmake INSTALL_DESTINATION ${MEDIAN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/median-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/median-config.cmake
  ${PROJECT_BINARY_DIR}/median-config-version.cmake DESTINATION ${MEDIAN_CMAKE_DIR})

# The .pc file finds the prefix from its own place, so it stays right under
# whatever --prefix the install is given.
file(RELATIVE_PATH MEDIAN_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" MEDIAN_PC_TO_PREFIX ${MEDIAN_PC_TO_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/median.pc.in ${PROJECT_BINARY_DIR}/median.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/median.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
