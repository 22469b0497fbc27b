# Unit tests of the measurement core and the view arithmetic;
# included from tests/unit/CMakeLists.txt.
add_executable(test_measure ${CMAKE_CURRENT_LIST_DIR}/test_view_math.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/test_signal_measure.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/test_range_stats.cpp)
target_link_libraries(test_measure PRIVATE quillon_measure quillon_file quillon_warnings
                                           GTest::gtest_main)
quillon_discover_tests(test_measure unit)
