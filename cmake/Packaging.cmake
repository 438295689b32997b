# The Debian package: `make package` (or `cpack -G DEB` in a build directory) puts the Quillet
# tool, both libraries, the header, the CMake and pkg-config files, the manual pages and the
# copyright file under /usr. Configure with -DCMAKE_INSTALL_PREFIX=/usr so the libraries land in
# the multiarch directory (lib/x86_64-linux-gnu on amd64), where Debian keeps them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane-lidar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Korvane LiDAR Utilities")
set(CPACK_PACKAGE_CONTACT "Korvane LiDAR Utilities maintainers <maintainers@korvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quillet LAS merger and the Korvane LiDAR utility library")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillet merges LAS point-cloud files (versions 1.0 to 1.2, point formats 0 to 3) of one type,
scale, offset and record length into one LAS file. Korvane_LiDAR is the C library it is built
with: LAS header and point record layouts, file checks, classification of LAS files,
recomputation of header statistics, fresh headers, index-carrying quicksorts and argument
checks. The package holds the tool, the shared and static libraries, the C header, the CMake
and pkg-config files and the manual pages.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME korvane-lidar)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared library's own dependencies, and a shlibs file and ldconfig trigger for it.
find_program(KORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KORVANE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Licensed under Apache-2.0 (LICENSE). Debian wants the terms in share/doc/PACKAGE/copyright, in
# its machine-readable format; a source install puts the same file in the same place.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/copyright
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_PACKAGE_NAME})

include(CPack)
