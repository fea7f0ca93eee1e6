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
list(TRANSFORM MORVIK_HOST_DEFINITIONS PREPEND "-D" OUTPUT_VARIABLE MORVIK_HOST_CFLAGS)
string(JOIN " " MORVIK_HOST_CFLAGS ${MORVIK_HOST_CFLAGS})
configure_file(${CMAKE_CURRENT_LIST_DIR}/morvik.pc.in ${CMAKE_CURRENT_BINARY_DIR}/morvik.pc.in.configured @ONLY)
install(CODE "
  file(READ \"${CMAKE_CURRENT_BINARY_DIR}/morvik.pc.in.configured\" pc)
  string(REPLACE \"%PREFIX%\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
  set(pc_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/morvik.pc\")
  message(STATUS \"Installing: \${pc_file}\")
  file(WRITE \"\${pc_file}\" \"\${pc}\")")

# The Python package, where Debian's python3 looks for it: lib/python3 under
# /usr (packages), lib/python3.X under any other prefix (local installs). The
# prefix is known only at install time.
find_program(MORVIK_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(MORVIK_PYTHON3 python3)
set(MORVIK_PYTHON_VERSION 3)
if(MORVIK_PYTHON3)
  execute_process(COMMAND ${MORVIK_PYTHON3} -c "import sys; print('%d.%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE MORVIK_PYTHON_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/build_info.py.in
  ${CMAKE_CURRENT_BINARY_DIR}/build_info.py.configured @ONLY)
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(site lib/python3/dist-packages)
  else()
    set(site lib/python${MORVIK_PYTHON_VERSION}/dist-packages)
  endif()
  file(INSTALL \"${PROJECT_SOURCE_DIR}/python/morvik\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/\${site}\"
    PATTERN \"__pycache__\" EXCLUDE PATTERN \"_c_header.py\" EXCLUDE)
  # The result codes and finder bits, read from morvik_c.h (their definition).
  set(codes_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${site}/morvik/_c_header.py\")
  message(STATUS \"Installing: \${codes_file}\")
  execute_process(COMMAND \"${MORVIK_PYTHON3}\" \"${PROJECT_SOURCE_DIR}/python/morvik/_header.py\"
    \"${PROJECT_SOURCE_DIR}/include/morvik/morvik_c.h\" \"\${codes_file}\" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"cannot write \${codes_file}\")
  endif()
  # The library's version and folder, which the package loads first (a pip
  # install of python/ records them the same way).
  file(READ \"${CMAKE_CURRENT_BINARY_DIR}/build_info.py.configured\" info)
  string(REPLACE \"%PREFIX%\" \"\${CMAKE_INSTALL_PREFIX}\" info \"\${info}\")
  set(info_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${site}/morvik/_build_info.py\")
  message(STATUS \"Installing: \${info_file}\")
  file(WRITE \"\${info_file}\" \"\${info}\")")

set(CPACK_PACKAGE_NAME morvik)
set(CPACK_PACKAGE_VENDOR "morvik")
set(CPACK_PACKAGE_CONTACT "morvik developers <morvik@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "face finding, eye location and face descriptors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libopencv-dev, libdlib-dev")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-numpy")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
