# Unit tests of the timebase tables; included from tests/unit/CMakeLists.txt.
if(NOT TARGET GTest::gtest_main)
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

add_executable(test_timebase ${CMAKE_CURRENT_LIST_DIR}/test_timebase.cpp)
target_link_libraries(test_timebase PRIVATE quillon_timebase quillon_warnings GTest::gtest_main)
quillon_discover_tests(test_timebase unit)
