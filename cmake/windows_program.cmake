# Builds the Windows programs: Tindra.exe, the update checker, the file replacer and
# every copy of them the tests need, each described by one call, and the file version
# text of a revision. Included by the top-level CMakeLists.txt before anything else.
#
# tindra_windows_program(<target> NAME <name> REVISION <n> [DESCRIPTION <text>]
#     [HOST <host>] [TEST_HOST] [SHIPS] [OUTPUT_NAME <file>] [OUTPUT_DIRECTORY <dir>]
#     [SOURCES <file>...] [LIBS <library>...] [RESOURCES <rc>] [MANIFEST <template>]
#     [SETTINGS <NAME>=<value>...])
#   A signed GUI program, <file>.exe (default <target>.exe) in <dir> (default the
#   folder's build folder). Its version block (cmake/windows_program.rc.in) reads
#   FILEVERSION 1,0,0,<n> and "1.00.<n, four digits>", InternalName <name> and
#   OriginalFilename "<name>.exe". With a DESCRIPTION (the companions and the test
#   programs) the block describes the file; without one (Tindra itself) it names the
#   company instead.
#   Its settings header tindra_program.h (cmake/windows_program.h.in), read by its
#   resources and its sources alike, defines TINDRA_PROGRAM_REVISION,
#   TINDRA_PROGRAM_VERSION_TEXT, TINDRA_PROGRAM_UPDATE_HOST (HOST, by default the
#   build's TINDRA_UPDATE_HOST), TINDRA_PROGRAM_MANIFEST (with a MANIFEST) and
#   TINDRA_PROGRAM_<NAME> for each setting; a later setting of a name replaces the
#   value of an earlier one, in its place.
#   TEST_HOST: a test copy, whose update host is the one the test that starts it
#   passes in the environment variable TINDRA_TEST_UPDATE_HOST (HOST when it is not
#   set), so that tests side by side each talk to a server of their own. It defines
#   TINDRA_PROGRAM_TEST_HOST; a program that SHIPS cannot have it.
#   A call without SOURCES builds the program of that name from its parts below (its
#   sources, libraries, resources and shipped settings), which the call's own
#   arguments extend or override; a call with SOURCES builds another program in that
#   role (a test program).
#   RESOURCES: a resource script included before the version block (the language and
#   further resources); MANIFEST: a template of the application manifest, given
#   @P_NAME@, @P_REVISION@ and @P_MACHINE@ (x86 for the 32-bit programs, amd64 for the
#   64-bit), embedded after those resources.
#   SHIPS: a program users get, signed with the publisher's key; every other one is
#   signed with the development key (cmake/signing.cmake).
#   Example: tindra_windows_program(Vantorel_test_r26 NAME Vantorel REVISION 26
#   SETTINGS NET_DEADLINE_MS=15000) gives vantorel/Vantorel_test_r26.exe.
include_guard(GLOBAL)

# tindra_version_text(<out> <revision>): the file version text of a revision, its last
# part padded to four digits ("1.00.0027" for 27).
function(tindra_version_text out revision)
  math(EXPR padded "${revision}")
  string(LENGTH "${padded}" len)
  while(len LESS 4)
    string(PREPEND padded "0")
    math(EXPR len "${len} + 1")
  endwhile()
  set(${out} "1.00.${padded}" PARENT_SCOPE)
endfunction()

# The parts of each program, by its NAME. All three carry the same application
# manifest: run as the invoker, Windows 7 to 11, dpi-aware, common controls 6, long
# paths.
set(TINDRA_MANIFEST_TEMPLATE ${TINDRA_SOURCE_ROOT}/cmake/windows_program.manifest.in)
set(TINDRA_PROGRAM_PARTS_Tindra
    # Every copy is Tindra.exe: the file name is its DDE service name.
    OUTPUT_NAME Tindra
    SOURCES ${TINDRA_SOURCE_ROOT}/app/win32/tindra_main.cpp ${TINDRA_SOURCE_ROOT}/app/win32/program_build.cpp
    LIBS tindra_app_win32 tindra_update_launcher_win32
    RESOURCES ${TINDRA_SOURCE_ROOT}/app/Tindra.rc
    MANIFEST ${TINDRA_MANIFEST_TEMPLATE}
    # The start-up update's bounds (milliseconds): each version read, each download,
    # the ceiling of the whole update with the checker's run, and how long before the
    # ceiling a checker still running is asked to close. After how long without input
    # the user counts as away from the keyboard (milliseconds).
    SETTINGS NET_READ_MS=30000 NET_DEADLINE_MS=120000 STARTUP_CEILING_MS=300000
             CHECKER_GRACE_MS=10000 AWAY_MS=90000)
set(TINDRA_PROGRAM_PARTS_Vantorel
    DESCRIPTION "Tindra 업데이트 확인"
    SOURCES ${TINDRA_SOURCE_ROOT}/vantorel/win32/vantorel_main.cpp
    LIBS tindra_update_win32
    MANIFEST ${TINDRA_MANIFEST_TEMPLATE}
    # The bound of each version read and of each download (milliseconds).
    SETTINGS NET_READ_MS=30000 NET_DEADLINE_MS=120000)
set(TINDRA_PROGRAM_PARTS_Pellmora
    DESCRIPTION "Tindra 파일 교체"
    SOURCES ${TINDRA_SOURCE_ROOT}/pellmora/win32/pellmora_main.cpp
    LIBS tindra_update_win32 tindra_dde_client
    MANIFEST ${TINDRA_MANIFEST_TEMPLATE}
    # How long it waits for the old program to be free, and for the new one to answer
    # (milliseconds): the new program's whole start-up, its start-up ceiling
    # (STARTUP_CEILING_MS above) and a minute's margin; and from when on a new program
    # still starting must answer its window messages.
    SETTINGS WAIT_MS=30000 READY_WAIT_MS=360000 ANSWER_FROM_MS=60000)

# tindra_program_files(<target> <folder> <arguments>...): what tindra_windows_program
# makes of its arguments before any target exists. Checks them and writes the
# program's settings header, resource script and manifest into <folder>; sets P_SHIPS,
# P_SOURCES, P_LIBS, P_OUTPUT_NAME, P_OUTPUT_DIRECTORY, P_RC (the resource script) and
# P_DEPENDS (the files it includes) in the caller.
function(tindra_program_files target gen)
  set(flags SHIPS TEST_HOST)
  set(values NAME REVISION DESCRIPTION HOST OUTPUT_NAME OUTPUT_DIRECTORY RESOURCES MANIFEST)
  set(lists SOURCES LIBS SETTINGS)
  cmake_parse_arguments(P "${flags}" "${values}" "${lists}" ${ARGN})
  if(NOT P_NAME)
    message(FATAL_ERROR "tindra_windows_program(${target}): NAME is missing")
  endif()
  if(NOT P_SOURCES)
    if(NOT DEFINED TINDRA_PROGRAM_PARTS_${P_NAME})
      message(FATAL_ERROR "tindra_windows_program(${target}): no program is named ${P_NAME} (give SOURCES)")
    endif()
    cmake_parse_arguments(P "${flags}" "${values}" "${lists}" ${TINDRA_PROGRAM_PARTS_${P_NAME}} ${ARGN})
  endif()
  if(NOT P_REVISION MATCHES "^[0-9]+$" OR P_REVISION GREATER 9999)
    message(FATAL_ERROR "tindra_windows_program(${target}): REVISION must be a whole number from 0 to 9999")
  endif()
  if(NOT P_HOST)
    set(P_HOST ${TINDRA_UPDATE_HOST})
  endif()
  if(NOT P_HOST MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+(:[0-9]+)?$")
    message(FATAL_ERROR "tindra_windows_program(${target}): HOST must be a dotted IPv4 address, optionally with :port")
  endif()
  if(P_SHIPS AND P_TEST_HOST)
    message(FATAL_ERROR "tindra_windows_program(${target}): a program that ships takes its host from nowhere but its build (TEST_HOST)")
  endif()
  if(NOT P_OUTPUT_NAME)
    set(P_OUTPUT_NAME ${target})
  endif()
  if(NOT P_OUTPUT_DIRECTORY)
    set(P_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  math(EXPR P_REVISION "${P_REVISION}")
  tindra_version_text(P_VERSION_TEXT ${P_REVISION})
  set(P_DEPENDS)

  # The settings header.
  set(P_DEFINES "#define TINDRA_PROGRAM_UPDATE_HOST \"${P_HOST}\"\n")
  if(P_TEST_HOST)
    string(APPEND P_DEFINES "#define TINDRA_PROGRAM_TEST_HOST 1\n")
  endif()
  if(P_MANIFEST)
    # A manifest naming another machine than the program's makes the loader refuse its
    # assemblies (the common controls, and with them every button and label).
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(P_MACHINE amd64)
    else()
      set(P_MACHINE x86)
    endif()
    set(manifest ${gen}/${P_NAME}.manifest)
    configure_file(${P_MANIFEST} ${manifest} @ONLY)
    string(APPEND P_DEFINES "#define TINDRA_PROGRAM_MANIFEST \"${manifest}\"\n")
    list(APPEND P_DEPENDS ${manifest})
  endif()
  set(names)
  foreach(setting IN LISTS P_SETTINGS)
    if(NOT setting MATCHES "^([A-Z][A-Z0-9_]*)=(.+)$")
      message(FATAL_ERROR "tindra_windows_program(${target}): a setting is NAME=VALUE, not '${setting}'")
    endif()
    if(NOT CMAKE_MATCH_1 IN_LIST names)
      list(APPEND names ${CMAKE_MATCH_1})
    endif()
    set(value_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endforeach()
  foreach(name IN LISTS names)
    string(APPEND P_DEFINES "#define TINDRA_PROGRAM_${name} ${value_${name}}\n")
  endforeach()
  string(STRIP "${P_DEFINES}" P_DEFINES)
  configure_file(${TINDRA_SOURCE_ROOT}/cmake/windows_program.h.in ${gen}/tindra_program.h @ONLY)

  # The resource script: the program's own resources, then the version block.
  set(P_RESOURCES_INCLUDE "")
  if(P_RESOURCES)
    set(P_RESOURCES_INCLUDE "#include \"${P_RESOURCES}\"\n")
    file(GLOB artwork ${TINDRA_SOURCE_ROOT}/res/*)
    list(APPEND P_DEPENDS ${P_RESOURCES} ${artwork})
  endif()
  if(P_MANIFEST)
    string(APPEND P_RESOURCES_INCLUDE
           "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST TINDRA_PROGRAM_MANIFEST\n")
  endif()
  if(DEFINED P_DESCRIPTION)
    set(P_FILEOS VOS__WINDOWS32)
    set(strings FileDescription "${P_DESCRIPTION}" FileVersion ${P_VERSION_TEXT}
        InternalName ${P_NAME} OriginalFilename ${P_NAME}.exe
        ProductName Tindra ProductVersion ${P_VERSION_TEXT})
  else()
    set(P_FILEOS VOS_NT_WINDOWS32)
    set(strings CompanyName Tindra ProductName Tindra
        FileVersion ${P_VERSION_TEXT} ProductVersion ${P_VERSION_TEXT}
        InternalName ${P_NAME} OriginalFilename ${P_NAME}.exe)
  endif()
  set(P_STRINGS "")
  while(strings)
    list(POP_FRONT strings key value)
    string(APPEND P_STRINGS "      VALUE \"${key}\", \"${value}\"\n")
  endwhile()
  set(P_RC ${gen}/${P_NAME}.rc)
  configure_file(${TINDRA_SOURCE_ROOT}/cmake/windows_program.rc.in ${P_RC} @ONLY)
  foreach(out SHIPS SOURCES LIBS OUTPUT_NAME OUTPUT_DIRECTORY RC DEPENDS)
    set(P_${out} "${P_${out}}" PARENT_SCOPE)
  endforeach()
endfunction()

function(tindra_windows_program target)
  set(gen ${CMAKE_BINARY_DIR}/generated/programs/${target})
  tindra_program_files(${target} ${gen} ${ARGN})
  add_executable(${target} WIN32 ${P_SOURCES} ${P_RC})
  target_include_directories(${target} PRIVATE ${gen} ${TINDRA_SOURCE_ROOT})
  target_link_options(${target} PRIVATE -municode)
  target_link_libraries(${target} PRIVATE ${P_LIBS})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${P_OUTPUT_NAME}
                        RUNTIME_OUTPUT_DIRECTORY ${P_OUTPUT_DIRECTORY})
  if(P_DEPENDS)
    set_property(SOURCE ${P_RC} APPEND PROPERTY OBJECT_DEPENDS ${P_DEPENDS})
  endif()
  tindra_delay_load(${target})
  if(P_SHIPS)
    tindra_sign(${target} SHIPS)
  else()
    tindra_sign(${target})
  endif()
endfunction()
