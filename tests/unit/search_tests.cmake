# The condition language and its matcher; included from tests/unit/CMakeLists.txt.
add_executable(test_search ${CMAKE_CURRENT_LIST_DIR}/test_search.cpp)
target_link_libraries(test_search PRIVATE quillon_search quillon_warnings GTest::gtest_main)
quillon_discover_tests(test_search unit)
