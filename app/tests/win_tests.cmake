# Tests of the real program under Wine, started by the tests and poked over DDE like
# the messenger does: the program as shipped, built to ask the update server its test
# names, which is the test slot's quiet one: it announces revision 0, so that the
# start-up update fetches nothing and starts no checker (the update has tests of its
# own).
# Its user counts as away from the keyboard only after 10 minutes without input (90 s as
# shipped), longer than any of its tests runs: a test that clicks and then waits for a
# flood to clear on a loaded machine sees every popup close as before.
tindra_windows_program(TindraShellTest NAME Tindra REVISION ${TINDRA_REVISION}
                       HOST ${TINDRA_TEST_UPDATE_HOST} TEST_HOST SETTINGS AWAY_MS=600000
                       OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs/TindraShellTest)
# The same with a user who counts as away from the keyboard after 3 s without input
# (90 s as shipped), for the test of popups waiting for the user.
tindra_windows_program(TindraAwayTest NAME Tindra REVISION ${TINDRA_REVISION}
                       HOST ${TINDRA_TEST_UPDATE_HOST} TEST_HOST SETTINGS AWAY_MS=3000
                       OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs/TindraAwayTest)

# The integrators' example client, which the release zip carries, built as they would.
add_executable(notify_example ${TINDRA_SOURCE_ROOT}/examples/notify.c)
set_target_properties(notify_example PROPERTIES OUTPUT_NAME notify)
target_compile_options(notify_example PRIVATE -Wno-unused-parameter)
target_link_libraries(notify_example PRIVATE user32)
tindra_sign(notify_example)

tindra_add_gtest(app_win_tests SOURCES tindra_win_test.cpp
                 LIBS tindra_win_harness version TIMEOUT 300
                 SLOW "TindraTest.ABurstOf200PokesShowsEveryOneAndLeavesNoObjectsBehind:TindraTest.AFlood*")
target_compile_definitions(app_win_tests PRIVATE
  TINDRA_TEST_REVISION=${TINDRA_REVISION}
  TINDRA_EXE_PATH="$<TARGET_FILE:TindraShellTest>" TINDRA_POKE_PATH="$<TARGET_FILE:tindra-poke>"
  TINDRA_AWAY_EXE_PATH="$<TARGET_FILE:TindraAwayTest>" TINDRA_AWAY_MS=3000
  TINDRA_NOTIFY_PATH="$<TARGET_FILE:notify_example>")
add_dependencies(app_win_tests TindraShellTest TindraAwayTest tindra-poke notify_example)

# Screenshots of each popup kind, into <build>/screenshots/ beside the win build.
get_filename_component(_tindra_build_root ${CMAKE_BINARY_DIR} DIRECTORY)
tindra_add_wine_test(app_screenshots
  bash ${CMAKE_CURRENT_SOURCE_DIR}/screenshots.sh $<TARGET_FILE:TindraShellTest>
  $<TARGET_FILE:tindra-poke> ${_tindra_build_root}/screenshots)
set_tests_properties(app_screenshots PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120 LABELS slow)
