# Installing for other projects (pkg-config and a CMake package config) and
# the Debian package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MORVIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/morvik)
install(EXPORT morvikTargets NAMESPACE morvik:: DESTINATION ${MORVIK_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/morvikConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/morvikConfig.cmake INSTALL_DESTINATION ${MORVIK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/morvikConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/morvikConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/morvikConfigVersion.cmake DESTINATION ${MORVIK_CMAKE_DIR})

# The prefix is written into the file at install time, so that
# `cmake --install --prefix DIR` gives a morvik.pc that points into DIR.
configure_file(${CMAKE_CURRENT_LIST_DIR}/morvik.pc.in ${CMAKE_CURRENT_BINARY_DIR}/morvik.pc.in.configured @ONLY)
install(CODE "
  file(READ \"${CMAKE_CURRENT_BINARY_DIR}/morvik.pc.in.configured\" pc)
  string(REPLACE \"%PREFIX%\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
  set(pc_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/morvik.pc\")
  message(STATUS \"Installing: \${pc_file}\")
  file(WRITE \"\${pc_file}\" \"\${pc}\")")

# The Python package, where Debian's python3 looks for system packages.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/morvik DESTINATION lib/python3/dist-packages
  PATTERN "__pycache__" EXCLUDE)

set(CPACK_PACKAGE_NAME morvik)
set(CPACK_PACKAGE_VENDOR "morvik")
set(CPACK_PACKAGE_CONTACT "morvik developers <morvik@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "face finding, eye location and face descriptors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libopencv-dev")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-numpy")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
