# Tests of the real program under Wine: a copy of Tindra.exe whose start-up update
# returns at once (the update has tests of its own), started by the tests and poked
# over DDE like the messenger does.
add_library(tindra_app_test_no_update STATIC no_update.cpp)
target_link_libraries(tindra_app_test_no_update PUBLIC tindra_common)
target_compile_options(tindra_app_test_no_update PRIVATE ${TINDRA_WARNINGS})
tindra_add_program(TindraShellTest ${TINDRA_REVISION} UPDATE_LIBRARY tindra_app_test_no_update)

# The harness drives a real Tindra.exe; the benchmark client uses it too.
add_library(tindra_test_harness STATIC TindraHarness.cpp)
target_link_libraries(tindra_test_harness PUBLIC tindra_poke_client tindra_common)
target_compile_options(tindra_test_harness PRIVATE ${TINDRA_WARNINGS})

tindra_add_gtest(app_win_tests SOURCES tindra_win_test.cpp
                 LIBS tindra_test_harness version TIMEOUT 300)
target_compile_definitions(app_win_tests PRIVATE
  TINDRA_TEST_REVISION=${TINDRA_REVISION}
  TINDRA_EXE_PATH="$<TARGET_FILE:TindraShellTest>" TINDRA_POKE_PATH="$<TARGET_FILE:tindra-poke>")
add_dependencies(app_win_tests TindraShellTest tindra-poke)

# Screenshots of each popup kind, into <build>/screenshots/ beside the win build.
get_filename_component(_tindra_build_root ${CMAKE_BINARY_DIR} DIRECTORY)
add_test(NAME app_screenshots
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/screenshots.sh
                 $<TARGET_FILE:TindraShellTest> $<TARGET_FILE:tindra-poke>
                 ${_tindra_build_root}/screenshots)
set_tests_properties(app_screenshots PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
