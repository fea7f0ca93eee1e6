# One GoogleTest program from tests/NAME.cpp, linked against the library's
# objects so that internal functions are reachable, with the paths the
# tests read from.
function(morvik_add_test_program test_name)
  set(tests_dir ${PROJECT_SOURCE_DIR}/tests)
  add_executable(${test_name} ${tests_dir}/${test_name}.cpp ${tests_dir}/test_support.cpp)
  target_link_libraries(${test_name} PRIVATE morvik_objects GTest::gtest GTest::gtest_main)
  target_compile_definitions(${test_name} PRIVATE
    MORVIK_TESTDATA="${MORVIK_TESTDATA_DIR}"
    MORVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    MORVIK_LIBRARY_PATH="$<TARGET_FILE:morvik>")
  add_dependencies(${test_name} morvik)
endfunction()
