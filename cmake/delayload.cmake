# Delay-loaded system DLLs. The loader resolves a program's imports before any of
# its code runs, searching the program's own folder first; a version.dll planted
# there would be loaded in place of the system's. In the shipped programs these DLLs
# are bound instead through delay-import libraries made by dlltool: each is loaded
# on first use, after the program has restricted the search to the system folder
# (common/win32/dll_search.h). Test programs link them as usual.
#
# tindra_system_dll(<library> <dll>): <library> calls <dll> (version, wininet, oleacc, ...).
# tindra_delay_load(<program>): the program takes those DLLs delay-loaded.
include_guard(GLOBAL)

find_program(TINDRA_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)

function(tindra_system_dll library dll)
  set(def ${TINDRA_SOURCE_ROOT}/cmake/delayload/${dll}.def)
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
  set_property(DIRECTORY ${TINDRA_SOURCE_ROOT} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
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
