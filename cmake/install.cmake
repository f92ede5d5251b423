# cmake --install: libquorin.so (versioned, with its soname), libquorin.a (the same names
# offered: CMakeLists.txt's quorin_public_static), the public headers
# under include/quorin/, the command-line programs (CMakeLists.txt installs them where it makes
# them), the CMake package (find_package(quorin) -> quorin::quorin, the shared library, and
# quorin::quorin_static) and the pkg-config file quorin.pc.
include(CMakePackageConfigHelpers)

# Two export sets: the shared library names no dependency, so a consumer of it needs none of
# libxml2's development files; the static one names libxml2 and is imported only where it is found.
install(TARGETS quorin_shared EXPORT quorinTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS quorin_public_static EXPORT quorinStaticTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quorin DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

set(QUORIN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorin)
install(EXPORT quorinTargets NAMESPACE quorin:: FILE quorinTargets.cmake
  DESTINATION ${QUORIN_CMAKE_DIR})
install(EXPORT quorinStaticTargets NAMESPACE quorin:: FILE quorinStaticTargets.cmake
  DESTINATION ${QUORIN_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quorinConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorinConfig.cmake INSTALL_DESTINATION ${QUORIN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorinConfig.cmake
  ${PROJECT_BINARY_DIR}/quorinConfigVersion.cmake DESTINATION ${QUORIN_CMAKE_DIR})

# quorin.pc is written at install time (cmake/quorin_pc.cmake.in), when the prefix is known.
configure_file(${PROJECT_SOURCE_DIR}/cmake/quorin_pc.cmake.in ${PROJECT_BINARY_DIR}/quorin_pc.cmake
  @ONLY)
install(SCRIPT ${PROJECT_BINARY_DIR}/quorin_pc.cmake)
install(FILES ${PROJECT_BINARY_DIR}/quorin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
