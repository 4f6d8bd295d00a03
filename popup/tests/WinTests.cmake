# Windows tests of the popup, run under Wine: the real windows, their look, clicks,
# and handle counts; and the same at 120 and 144 dpi (popup_dpi_test.sh).
tindra_add_gtest(popup_win_tests SOURCES popup_win_test.cpp popup_test.rc
                 LIBS tindra_popup_win32 TIMEOUT 180)
target_compile_definitions(popup_win_tests PRIVATE
  TINDRA_SCREENSHOT_DIR="Z:${CMAKE_BINARY_DIR}/../screenshots")
