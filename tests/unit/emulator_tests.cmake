# The analyzer emulator's tests; included from tests/unit/CMakeLists.txt.
add_executable(test_emulator
    ${CMAKE_CURRENT_LIST_DIR}/test_emulator.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_emulator_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_emulator_signals.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_emulator_options.cpp)
target_link_libraries(test_emulator PRIVATE quillon_emulator GTest::gtest_main quillon_warnings)
# The command-line tests run the real program.
add_dependencies(test_emulator quillon-emu)
target_compile_definitions(test_emulator PRIVATE
    QUILLON_EMU_PROGRAM="$<TARGET_FILE:quillon-emu>")
quillon_discover_tests(test_emulator unit)

# The commands against the emulator's timing: late replies, a paced line, fast replies.
add_executable(test_link_timing ${CMAKE_CURRENT_LIST_DIR}/test_link_timing.cpp)
target_link_libraries(test_link_timing PRIVATE quillon_emulator quillon_capture GTest::gtest_main
                                               quillon_warnings)
quillon_discover_tests(test_link_timing unit)
