# Builds Tindra.exe. Included by the top-level CMakeLists.txt, before any folder that
# builds a copy of it.
#
# tindra_add_program(<target> <revision> [SHIPS] [OUTPUT_DIRECTORY <dir>] [HOST <host>])
#   A signed copy of the program built from the shared sources with its own revision
#   and update server: the version block reads "1.00.<revision, 4 digits>" and
#   FILEVERSION 1,0,0,<revision>; HOST (default: the build's TINDRA_UPDATE_HOST) is
#   where its start-up update connects. The file is always named Tindra.exe (its DDE
#   service name); it goes to <dir>, by default ${CMAKE_BINARY_DIR}/programs/<target>.
#   SHIPS: the copy users get, signed with the publisher's key; every other copy is
#   signed with the development key (cmake/signing.cmake).
#   Example: tindra_add_program(Tindra28 28) gives programs/Tindra28/Tindra.exe.
include_guard(GLOBAL)

function(tindra_add_program target revision)
  set(app ${TINDRA_SOURCE_ROOT}/app)
  cmake_parse_arguments(P "SHIPS" "OUTPUT_DIRECTORY;HOST" "" ${ARGN})
  if(NOT P_HOST)
    set(P_HOST ${TINDRA_UPDATE_HOST})
  endif()
  if(NOT revision MATCHES "^[0-9]+$" OR revision GREATER 9999)
    message(FATAL_ERROR "tindra_add_program: revision must be a whole number from 0 to 9999")
  endif()
  if(NOT P_OUTPUT_DIRECTORY)
    set(P_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs/${target})
  endif()
  math(EXPR P_REVISION "${revision}")
  tindra_version_text(P_VERSION_TEXT ${P_REVISION})
  set(P_BELL_ICON ${TINDRA_SOURCE_ROOT}/res/bell.ico)
  set(gen ${CMAKE_BINARY_DIR}/programs/${target}/generated)
  set(P_MANIFEST ${gen}/Tindra.manifest)
  configure_file(${app}/tindra_program.h.in ${gen}/tindra_program.h @ONLY)
  configure_file(${app}/Tindra.manifest.in ${P_MANIFEST} @ONLY)

  add_executable(${target} WIN32 ${app}/win32/TindraMain.cpp
                 ${app}/win32/ProgramBuild.cpp ${app}/Tindra.rc)
  target_include_directories(${target} PRIVATE ${gen} ${TINDRA_SOURCE_ROOT})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TINDRA_WARNINGS}>)
  target_link_options(${target} PRIVATE -municode)
  target_link_libraries(${target} PRIVATE tindra_app_win32 tindra_update_win32)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME Tindra
                        RUNTIME_OUTPUT_DIRECTORY ${P_OUTPUT_DIRECTORY})
  set_property(TARGET ${target} APPEND PROPERTY OBJECT_DEPENDS ${P_BELL_ICON} ${P_MANIFEST})
  tindra_delay_load(${target})
  if(P_SHIPS)
    tindra_sign(${target} SHIPS)
  else()
    tindra_sign(${target})
  endif()
endfunction()
