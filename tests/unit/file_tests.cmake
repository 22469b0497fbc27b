# Unit tests of the capture files: readers, writers, the save path; included from
# tests/unit/CMakeLists.txt.
add_executable(test_file ${CMAKE_CURRENT_LIST_DIR}/test_file_read.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/test_file_write.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/test_save_file.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/file_test_support.h)
target_link_libraries(test_file PRIVATE quillon_file quillon_test_support PkgConfig::LIBZIP
                                        GTest::gtest_main quillon_warnings)
quillon_discover_tests(test_file unit)
