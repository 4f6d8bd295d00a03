# What tindra_windows_program writes for a program: its settings header, resource
# script and manifest, and the calls it refuses. Run by CTest in the native build:
#   cmake -DTINDRA_SOURCE_ROOT=<repository> -DOUT=<folder> -P windows_program_test.cmake
# A refused call is tried in a child (a fatal error ends the script): the same script
# with CALL, the call's arguments joined by "|".
cmake_minimum_required(VERSION 3.25)
set(TINDRA_UPDATE_HOST 127.0.0.1)
include(${TINDRA_SOURCE_ROOT}/cmake/windows_program.cmake)

if(DEFINED CALL)
  string(REPLACE "|" ";" call "${CALL}")
  list(POP_FRONT call target)
  tindra_program_files(${target} ${OUT}/${target} ${call})
  return()
endif()

# program_case(<what> CALL <target> <arguments>... EXPECT <expectation>...)
#   An expectation is <where>:<text>, where is h (the settings header), rc (the
#   resource script), manifest, output (the file name) or error (the call is refused
#   with that text); "!" before <where> asks that the text is not there.
function(program_case what)
  cmake_parse_arguments(C "" "" "CALL;EXPECT" ${ARGN})
  list(GET C_CALL 0 target)
  set(gen ${OUT}/${target})
  file(REMOVE_RECURSE ${gen})
  if(C_EXPECT MATCHES "(^|;)error:")
    string(JOIN "|" joined ${C_CALL})
    execute_process(COMMAND ${CMAKE_COMMAND} -DTINDRA_SOURCE_ROOT=${TINDRA_SOURCE_ROOT}
                            -DOUT=${OUT} "-DCALL=${joined}" -P ${CMAKE_CURRENT_LIST_FILE}
                    RESULT_VARIABLE rc ERROR_VARIABLE text OUTPUT_QUIET)
    if(rc EQUAL 0)
      set(text "")
    endif()
    string(REGEX REPLACE "[ \n]+" " " text_error "${text}")
  else()
    list(POP_FRONT C_CALL)
    tindra_program_files(${target} ${gen} ${C_CALL})
    set(text_output "${P_OUTPUT_NAME}")
    file(READ ${gen}/tindra_program.h text_h)
    file(GLOB rc ${gen}/*.rc)
    file(READ ${rc} text_rc)
    set(text_manifest "")
    file(GLOB manifest ${gen}/*.manifest)
    if(manifest)
      file(READ ${manifest} text_manifest)
    endif()
  endif()
  foreach(expectation IN LISTS C_EXPECT)
    if(NOT expectation MATCHES "^(!?)([a-z]+):(.*)$")
      message(FATAL_ERROR "${what}: bad expectation '${expectation}'")
    endif()
    set(absent "${CMAKE_MATCH_1}")
    set(where "${CMAKE_MATCH_2}")
    string(FIND "${text_${where}}" "${CMAKE_MATCH_3}" at)
    if((absent STREQUAL "" AND at EQUAL -1) OR (absent STREQUAL "!" AND NOT at EQUAL -1))
      message(SEND_ERROR "${what}: expected ${expectation}\n${where} is:\n${text_${where}}")
    endif()
  endforeach()
endfunction()

program_case("the shipped program"
  CALL Tindra NAME Tindra REVISION 27 SHIPS
  EXPECT "output:Tindra" "h:#define TINDRA_PROGRAM_REVISION 27\n"
         "h:#define TINDRA_PROGRAM_VERSION_TEXT \"1.00.0027\"\n"
         "h:#define TINDRA_PROGRAM_UPDATE_HOST \"127.0.0.1\"\n" "h:#define TINDRA_PROGRAM_MANIFEST"
         "h:#define TINDRA_PROGRAM_STARTUP_CEILING_MS 300000\n"
         "rc:#include \"${TINDRA_SOURCE_ROOT}/app/Tindra.rc\"" "rc:FILEOS VOS_NT_WINDOWS32\n"
         "rc:      VALUE \"CompanyName\", \"Tindra\"\n      VALUE \"ProductName\", \"Tindra\"\n      VALUE \"FileVersion\", \"1.00.0027\"\n      VALUE \"ProductVersion\", \"1.00.0027\"\n      VALUE \"InternalName\", \"Tindra\"\n      VALUE \"OriginalFilename\", \"Tindra.exe\"\n    END"
         "!rc:FileDescription" "manifest:name=\"Tindra\" version=\"1.0.0.27\""
         "rc:app/Tindra.rc\"\nCREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST TINDRA_PROGRAM_MANIFEST\n")
program_case("a copy of the program for another host, its revision written with zeros"
  CALL Tindra_copy NAME Tindra REVISION 0028 HOST 10.0.0.1:8080
  EXPECT "output:Tindra" "h:#define TINDRA_PROGRAM_REVISION 28\n"
         "h:#define TINDRA_PROGRAM_VERSION_TEXT \"1.00.0028\"\n"
         "h:#define TINDRA_PROGRAM_UPDATE_HOST \"10.0.0.1:8080\"\n" "manifest:version=\"1.0.0.28\"")
program_case("the shipped checker"
  CALL Vantorel NAME Vantorel REVISION 9999 SHIPS
  EXPECT "output:Vantorel" "h:#define TINDRA_PROGRAM_NET_DEADLINE_MS 120000\n"
         "rc:FILEOS VOS__WINDOWS32\n"
         "rc:      VALUE \"FileDescription\", \"Tindra 업데이트 확인\"\n      VALUE \"FileVersion\", \"1.00.9999\"\n      VALUE \"InternalName\", \"Vantorel\"\n      VALUE \"OriginalFilename\", \"Vantorel.exe\"\n      VALUE \"ProductName\", \"Tindra\"\n      VALUE \"ProductVersion\", \"1.00.9999\"\n    END"
         "!rc:#include \"${TINDRA_SOURCE_ROOT}" "!rc:CompanyName"
         "h:#define TINDRA_PROGRAM_MANIFEST" "rc:RT_MANIFEST TINDRA_PROGRAM_MANIFEST"
         "manifest:name=\"Vantorel\" version=\"1.0.0.9999\"" "manifest:<description>Vantorel<")
program_case("a test checker: its own setting replaces the shipped one"
  CALL Vantorel_test NAME Vantorel REVISION 0 SETTINGS NET_DEADLINE_MS=15000
  EXPECT "output:Vantorel_test" "h:#define TINDRA_PROGRAM_NET_DEADLINE_MS 15000\n"
         "!h:120000" "!h:15000\n#define TINDRA_PROGRAM_NET_DEADLINE_MS" "rc:\"1.00.0000\"" "rc:\"OriginalFilename\", \"Vantorel.exe\"")
program_case("a test replacer: both waits replaced, in the shipped order"
  CALL Pellmora_test NAME Pellmora REVISION 26 SETTINGS READY_WAIT_MS=20000 WAIT_MS=5000
  EXPECT "h:#define TINDRA_PROGRAM_WAIT_MS 5000\n#define TINDRA_PROGRAM_READY_WAIT_MS 20000\n"
         "!h:20000\n\n"
         "!h:30000" "!h:360000" "rc:\"Tindra 파일 교체\"" "manifest:name=\"Pellmora\" version=\"1.0.0.26\"")
program_case("a test program in the program's role, with sources of its own"
  CALL crash NAME Tindra REVISION 28 DESCRIPTION "Tindra (crashes at start)" SOURCES crash.c
  EXPECT "output:crash" "rc:VALUE \"FileDescription\", \"Tindra (crashes at start)\""
         "rc:\"OriginalFilename\", \"Tindra.exe\"" "!rc:#include \"${TINDRA_SOURCE_ROOT}"
         "!h:TINDRA_PROGRAM_MANIFEST" "!rc:RT_MANIFEST")
program_case("a test copy takes its host from its test, the built-in one as the fallback"
  CALL Tindra_test NAME Tindra REVISION 27 HOST 127.0.0.1:18327 TEST_HOST
  EXPECT "h:#define TINDRA_PROGRAM_UPDATE_HOST \"127.0.0.1:18327\"\n#define TINDRA_PROGRAM_TEST_HOST 1\n")
program_case("the shipped program takes no host from its test" CALL Tindra NAME Tindra REVISION 27
  EXPECT "!h:TINDRA_PROGRAM_TEST_HOST")
program_case("a program that ships cannot take it"
  CALL shipped_test NAME Tindra REVISION 27 SHIPS TEST_HOST
  EXPECT "error:a program that ships takes its host from nowhere but its build")
program_case("a revision past four digits" CALL big NAME Tindra REVISION 10000
  EXPECT "error:REVISION must be a whole number from 0 to 9999")
program_case("a revision that is not a number" CALL neg NAME Tindra REVISION -1
  EXPECT "error:REVISION must be a whole number from 0 to 9999")
program_case("no revision" CALL none NAME Vantorel
  EXPECT "error:REVISION must be a whole number from 0 to 9999")
program_case("a host by name" CALL host NAME Vantorel REVISION 27 HOST updates.example
  EXPECT "error:HOST must be a dotted IPv4 address")
program_case("a host inside other text" CALL url NAME Vantorel REVISION 27 HOST http:10.0.0.1
  EXPECT "error:HOST must be a dotted IPv4 address")
program_case("a host with an empty port" CALL port NAME Vantorel REVISION 27 HOST 127.0.0.1:
  EXPECT "error:HOST must be a dotted IPv4 address")
program_case("a setting without a value" CALL empty NAME Pellmora REVISION 27 SETTINGS WAIT_MS=
  EXPECT "error:a setting is NAME=VALUE, not 'WAIT_MS='")
program_case("a setting in lower case" CALL lower NAME Pellmora REVISION 27 SETTINGS wait_ms=5
  EXPECT "error:a setting is NAME=VALUE, not 'wait_ms=5'")
program_case("an unknown program without sources" CALL other NAME Other REVISION 27
  EXPECT "error:no program is named Other (give SOURCES)")
program_case("no name" CALL nameless REVISION 27 SOURCES a.c EXPECT "error:NAME is missing")
