# Protocol decoding: argument parsing and text on made-up metadata, and the decoding process over
# the emulator's bench signals. Included from tests/unit/CMakeLists.txt.
add_executable(test_decode
    ${CMAKE_CURRENT_LIST_DIR}/test_decoder_args.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_decoder_process.cpp)
target_link_libraries(test_decode PRIVATE quillon_decode quillon_emulator GTest::gtest_main
                                          quillon_warnings)
target_compile_definitions(test_decode PRIVATE
    QUILLON_DECODER_PATH="$<TARGET_FILE:quillon-decoder>"
    QUILLON_TEST_DECODERS="${PROJECT_SOURCE_DIR}/tests/support/decoders")
add_dependencies(test_decode quillon-decoder)
quillon_discover_tests(test_decode unit)
