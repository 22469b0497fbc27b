# Pixel tests of the waveform drawing (Qt Test, offscreen); included from
# tests/gui/CMakeLists.txt.
add_executable(test_waveform ${CMAKE_CURRENT_LIST_DIR}/test_waveform.cpp)
set_target_properties(test_waveform PROPERTIES AUTOMOC ON)
target_link_libraries(test_waveform PRIVATE quillon_display quillon_test_support quillon_warnings Qt6::Gui Qt6::Test)
add_test(NAME test_waveform COMMAND test_waveform)
set_tests_properties(test_waveform PROPERTIES LABELS gui ENVIRONMENT "${QUILLON_TEST_ENV}")
