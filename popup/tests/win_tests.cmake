# Windows tests of the popup, run under Wine: the real windows, their look, clicks,
# and handle counts; and the same at 120 and 144 dpi (popup_dpi_test.sh).
tindra_add_gtest(popup_win_tests SOURCES popup_win_test.cpp popup_test.rc
                 LIBS tindra_popup_win32 tindra_win_harness TIMEOUT 180
                 SLOW PopupWinTest.ManyPopupsLeaveNoHandlesBehind
                 SERIAL PopupWinTest.EveryStep*:PopupWinTest.ScreenShows*:PopupWinTest.EachKind*)
target_compile_definitions(popup_win_tests PRIVATE
  TINDRA_SCREENSHOT_DIR="Z:${CMAKE_BINARY_DIR}/../screenshots"
  TINDRA_DOCS_DIR="Z:${CMAKE_SOURCE_DIR}/docs")

foreach(dpi 120 144)
  tindra_add_wine_test(PopupDpi.${dpi}
    bash ${CMAKE_CURRENT_SOURCE_DIR}/popup_dpi_test.sh $<TARGET_FILE:popup_win_tests>
    ${dpi} ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(PopupDpi.${dpi} PROPERTIES TIMEOUT 180 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]" LABELS slow)
endforeach()
