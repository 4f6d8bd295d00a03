# Delay-loaded system DLLs. The loader resolves a program's imports before any of
# its code runs, searching the program's own folder first; a version.dll planted
# there would be loaded in place of the system's. In the shipped programs these DLLs
# are bound instead through delay-import libraries made by dlltool: each is loaded
# on first use, after the program has restricted the search to the system folder
# (common/win32/dll_search.h). Test programs link them as usual.
#
# tindra_system_dll(<library> <dll>): <library> calls <dll> (version, wininet, oleacc, ...).
# tindra_delay_load(<program>): the program takes those DLLs delay-loaded.
# tindra_dll_exports(<dll> <var>): sets <var> to the .def file of <dll>'s exports for
# this build's architecture.
include_guard(GLOBAL)

# dlltool of the build's own machine: another one writes the other machine's names.
find_program(TINDRA_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool REQUIRED)

# The .def files name the 32-bit stdcall exports (Name@N, the bytes of arguments the
# callee pops). 64-bit Windows has one calling convention and undecorated names, so
# there the decorations are dropped.
function(tindra_dll_exports dll var)
  set(def ${TINDRA_SOURCE_ROOT}/cmake/delayload/${dll}.def)
  set_property(DIRECTORY ${TINDRA_SOURCE_ROOT} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(${var} ${def} PARENT_SCOPE)
    return()
  endif()
  file(READ ${def} text)
  string(REGEX REPLACE "@[0-9]+" "" text "${text}")
  set(out ${CMAKE_BINARY_DIR}/delayload/${dll}.def)
  file(CONFIGURE OUTPUT ${out} CONTENT "${text}" @ONLY)
  set(${var} ${out} PARENT_SCOPE)
endfunction()

function(tindra_system_dll library dll)
  tindra_dll_exports(${dll} def)
  set(lib ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
  if(NOT EXISTS ${lib} OR ${def} IS_NEWER_THAN ${lib})
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayload)
    execute_process(COMMAND ${TINDRA_DLLTOOL} --kill-at --input-def ${def} --dllname ${dll}.dll
                            --output-delaylib ${lib}
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "dlltool could not make ${lib}")
    endif()
  endif()
  # Calls go through the import stubs (which the delay-import library provides), not
  # through a dllimport address slot: dlltool's delay libraries leave that slot
  # empty until the first stub call, so a dllimport call would jump to 0.
  target_compile_definitions(${library} PRIVATE DECLSPEC_IMPORT=)
  # Evaluated for the program being linked: its TINDRA_DELAY_LOAD property decides.
  target_link_libraries(${library} PUBLIC
                        "$<IF:$<BOOL:$<TARGET_PROPERTY:TINDRA_DELAY_LOAD>>,${lib},${dll}>")
endfunction()

function(tindra_delay_load program)
  set_target_properties(${program} PROPERTIES TINDRA_DELAY_LOAD ON)
  target_link_libraries(${program} PRIVATE delayimp)
endfunction()
