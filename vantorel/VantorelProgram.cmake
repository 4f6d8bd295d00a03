# Builds the update checker. Included by the top-level CMakeLists.txt, before any
# folder that builds a copy of it.
include_guard(GLOBAL)

# vantorel_program(target revision [host [deadline-ms]] [SHIPS]): the signed checker
# with its own version block, fetching from `host` (default: the build's update
# host) with transfers of at most `deadline-ms` each (default 120 s). SHIPS: the
# checker users get, signed with the publisher's key (the others with the
# development key).
function(vantorel_program target revision)
  set(host ${TINDRA_UPDATE_HOST})
  set(deadline 120000)
  set(extra ${ARGN})
  set(ships "")
  if("SHIPS" IN_LIST extra)
    set(ships SHIPS)
    list(REMOVE_ITEM extra SHIPS)
  endif()
  list(LENGTH extra n)
  if(n GREATER 0)
    list(GET extra 0 host)
  endif()
  if(n GREATER 1)
    list(GET extra 1 deadline)
  endif()
  set(COMPANION_REVISION ${revision})
  tindra_version_text(COMPANION_VERSION_TEXT ${revision})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Vantorel.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  add_executable(${target} WIN32 ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/win32/Vantorel_win32.cpp
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${target})
  target_link_options(${target} PRIVATE -municode)
  target_link_libraries(${target} PRIVATE tindra_update_win32)
  target_compile_definitions(${target} PRIVATE TINDRA_PROGRAM_UPDATE_HOST="${host}"
                             TINDRA_PROGRAM_NET_DEADLINE_MS=${deadline})
  target_compile_options(${target} PRIVATE ${TINDRA_WARNINGS})
  tindra_delay_load(${target})
  tindra_sign(${target} ${ships})
endfunction()
