# The waveform viewer: its picture pixel by pixel, and the window opened from the main window.
# Included from tests/gui/CMakeLists.txt.
add_executable(test_viewer_picture ${CMAKE_CURRENT_LIST_DIR}/test_viewer_picture.cpp)
target_link_libraries(test_viewer_picture PRIVATE quillon_viewer_picture quillon_test_support quillon_warnings
                                                  Qt6::Gui Qt6::Test)
add_test(NAME test_viewer_picture COMMAND test_viewer_picture)
set_tests_properties(test_viewer_picture PROPERTIES LABELS gui ENVIRONMENT "${QUILLON_TEST_ENV}")

quillon_add_gui_test(test_viewer_gui ${CMAKE_CURRENT_LIST_DIR}/test_viewer_gui.cpp
                     ${CMAKE_CURRENT_LIST_DIR}/message_box_closer.h)
target_link_libraries(test_viewer_gui PRIVATE quillon_emulator)

# The view kept per file, many channels, files read in the background, the menus' letters.
quillon_add_gui_test(test_viewer_view_gui ${CMAKE_CURRENT_LIST_DIR}/test_viewer_view_gui.cpp)
target_compile_definitions(test_viewer_view_gui PRIVATE
    QUILLON_DECODER_PATH="$<TARGET_FILE:quillon-decoder>")
add_dependencies(test_viewer_view_gui quillon-decoder)

# The hunting tools: find, markers, zoom to a range, the annotation table, the statistics.
quillon_add_gui_test(test_viewer_hunt_gui ${CMAKE_CURRENT_LIST_DIR}/test_viewer_hunt_gui.cpp)
target_link_libraries(test_viewer_hunt_gui PRIVATE quillon_emulator)
target_compile_definitions(test_viewer_hunt_gui PRIVATE
    QUILLON_DECODER_PATH="$<TARGET_FILE:quillon-decoder>")
add_dependencies(test_viewer_hunt_gui quillon-decoder)
