# Unit tests of the measurement core, the view arithmetic and the capture files;
# included from tests/unit/CMakeLists.txt.
add_executable(test_measure ${CMAKE_CURRENT_LIST_DIR}/test_view_math.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/test_signal_measure.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/test_capture_file.cpp)
target_link_libraries(test_measure PRIVATE quillon_measure quillon_warnings GTest::gtest_main)
gtest_discover_tests(test_measure PROPERTIES LABELS unit ENVIRONMENT "${QUILLON_TEST_ENV}")
