# One GoogleTest program from tests/SUBSYSTEM/NAME.cpp (or a folder below
# it), linked against the library's objects so that internal functions are
# reachable, with the shared test support and the paths the tests read from.
function(morvik_add_test_program test_name)
  set(tests_dir ${PROJECT_SOURCE_DIR}/tests)
  file(GLOB_RECURSE test_source ${tests_dir}/${test_name}.cpp)
  list(LENGTH test_source found)
  if(NOT found EQUAL 1)
    message(FATAL_ERROR "test program ${test_name}: expected one tests/*/${test_name}.cpp, found '${test_source}'")
  endif()
  add_executable(${test_name} ${test_source} ${tests_dir}/support/test_support.cpp)
  target_include_directories(${test_name} PRIVATE ${tests_dir})
  target_link_libraries(${test_name} PRIVATE morvik_objects GTest::gtest GTest::gtest_main)
  target_compile_definitions(${test_name} PRIVATE
    MORVIK_TESTDATA="${MORVIK_TESTDATA_DIR}"
    MORVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    MORVIK_LIBRARY_PATH="$<TARGET_FILE:morvik>")
  add_dependencies(${test_name} morvik)
endfunction()

# Every *_test.cpp of the calling folder as a program of its own, with its
# cases discovered for CTest.
function(morvik_add_folder_tests)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(test_source ${tests})
    get_filename_component(test_name ${test_source} NAME_WE)
    morvik_add_test_program(${test_name})
    gtest_discover_tests(${test_name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 900)
  endforeach()
endfunction()
