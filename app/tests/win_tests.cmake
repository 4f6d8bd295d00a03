# Tests of the real program under Wine, started by the tests and poked over DDE like
# the messenger does: the program as shipped, built for a test host where a quiet
# update server (a CTest fixture) announces revision 0, so that its start-up update
# fetches nothing and starts no checker (the update has tests of its own).
tindra_windows_program(TindraShellTest NAME Tindra REVISION ${TINDRA_REVISION}
                       HOST 127.0.0.1:${TINDRA_TEST_QUIET_PORT}
                       OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs/TindraShellTest)
set(_quiet_dir ${CMAKE_CURRENT_BINARY_DIR}/quiet-update-server)
add_test(NAME quiet_update_server_start
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/quiet_update_server.sh start ${_quiet_dir}
                 ${TINDRA_TEST_QUIET_PORT})
set_tests_properties(quiet_update_server_start PROPERTIES FIXTURES_SETUP quiet_update_server)
add_test(NAME quiet_update_server_stop
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/quiet_update_server.sh stop ${_quiet_dir})
set_tests_properties(quiet_update_server_stop PROPERTIES FIXTURES_CLEANUP quiet_update_server)

# The integrators' example client, which the release zip carries, built as they would.
add_executable(notify_example ${TINDRA_SOURCE_ROOT}/examples/notify.c)
set_target_properties(notify_example PROPERTIES OUTPUT_NAME notify)
target_compile_options(notify_example PRIVATE -Wno-unused-parameter)
target_link_libraries(notify_example PRIVATE user32)
tindra_sign(notify_example)

tindra_add_gtest(app_win_tests SOURCES tindra_win_test.cpp
                 LIBS tindra_win_harness version TIMEOUT 300 FIXTURES quiet_update_server
                 SLOW "TindraTest.ABurstOf200PokesShowsEveryOneAndLeavesNoObjectsBehind:TindraTest.AFlood*")
target_compile_definitions(app_win_tests PRIVATE
  TINDRA_TEST_REVISION=${TINDRA_REVISION}
  TINDRA_EXE_PATH="$<TARGET_FILE:TindraShellTest>" TINDRA_POKE_PATH="$<TARGET_FILE:tindra-poke>"
  TINDRA_NOTIFY_PATH="$<TARGET_FILE:notify_example>")
add_dependencies(app_win_tests TindraShellTest tindra-poke notify_example)

# Screenshots of each popup kind, into <build>/screenshots/ beside the win build.
get_filename_component(_tindra_build_root ${CMAKE_BINARY_DIR} DIRECTORY)
add_test(NAME app_screenshots
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/screenshots.sh
                 $<TARGET_FILE:TindraShellTest> $<TARGET_FILE:tindra-poke>
                 ${_tindra_build_root}/screenshots)
set_tests_properties(app_screenshots PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120 LABELS slow
                     FIXTURES_REQUIRED quiet_update_server)
