# Protocol decoding: argument parsing and text on made-up metadata, and the real library over the
# emulator's bench signals. Included from tests/unit/CMakeLists.txt.
add_executable(test_decode
    ${CMAKE_CURRENT_LIST_DIR}/test_decoder_args.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_decoder_library.cpp)
target_link_libraries(test_decode PRIVATE quillon_decode quillon_emulator GTest::gtest_main
                                          quillon_warnings)
gtest_discover_tests(test_decode PROPERTIES LABELS unit ENVIRONMENT "${QUILLON_TEST_ENV}")
