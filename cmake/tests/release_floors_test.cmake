# The floors of builds of several revisions made one after the other in one build tree,
# with and without floors the publisher set, and from the cache of an earlier build
# (whose floors were cached defaults). Run by CTest in the native build:
#   cmake -DTINDRA_SOURCE_ROOT=<repository> -DOUT=<folder> -P release_floors_test.cmake
cmake_minimum_required(VERSION 3.25)

# A project that takes its floors as the update's build does, and writes them down;
# with EARLIER it caches them as earlier builds did.
file(REMOVE_RECURSE ${OUT})
file(WRITE ${OUT}/project/CMakeLists.txt [=[
cmake_minimum_required(VERSION 3.25)
project(floors NONE)
set(TINDRA_REVISION 27 CACHE STRING "")
if(EARLIER)
  foreach(floor CHECKER REPLACER PROGRAM)
    set(TINDRA_${floor}_FLOOR ${TINDRA_REVISION} CACHE STRING
        "Lowest revision of the ${floor} program this build keeps")
  endforeach()
  return()
endif()
include(${TINDRA_SOURCE_ROOT}/cmake/release_floors.cmake)
tindra_release_floors(floors ${TINDRA_REVISION})
file(WRITE ${CMAKE_BINARY_DIR}/floors.txt "${floors}")
]=])

# configure(<tree> <what> <expected floors, "error:" and a text, or nothing> <-D settings>...)
function(configure tree what expected)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${OUT}/project -B ${OUT}/${tree}
                          -DTINDRA_SOURCE_ROOT=${TINDRA_SOURCE_ROOT} ${ARGN}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE errors)
  string(REGEX REPLACE "[ \n]+" " " errors "${errors}")
  if(expected MATCHES "^error:(.*)")
    string(FIND "${errors}" "${CMAKE_MATCH_1}" at)
    if(rc EQUAL 0 OR at EQUAL -1)
      message(SEND_ERROR "${what}: expected an error with '${CMAKE_MATCH_1}', got: ${errors}")
    endif()
    return()
  endif()
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "${what}: the configure failed: ${errors}")
    return()
  endif()
  if(expected STREQUAL "")
    return()  # an earlier build's configure: it writes no floors
  endif()
  file(READ ${OUT}/${tree}/floors.txt floors)
  string(REPLACE "TINDRA_" "" floors "${floors}")
  string(REPLACE "_FLOOR" "" floors "${floors}")
  if(NOT floors STREQUAL expected)
    message(SEND_ERROR "${what}: floors ${floors}, expected ${expected}")
  endif()
  if(errors MATCHES "warning" AND NOT what MATCHES "warned")
    message(SEND_ERROR "${what}: unexpected warning: ${errors}")
  endif()
endfunction()

configure(tree "revision 28" "CHECKER=28;REPLACER=28;PROGRAM=28" -DTINDRA_REVISION=28)
configure(tree "then 27 in the same tree" "CHECKER=27;REPLACER=27;PROGRAM=27"
          -DTINDRA_REVISION=27)
configure(tree "a checker floor the publisher set" "CHECKER=20;REPLACER=27;PROGRAM=27"
          -DTINDRA_REVISION=27 -DTINDRA_CHECKER_FLOOR=20)
configure(tree "it stays for revision 29" "CHECKER=20;REPLACER=29;PROGRAM=29"
          -DTINDRA_REVISION=29)
configure(tree "cleared, it follows again" "CHECKER=29;REPLACER=29;PROGRAM=29"
          -DTINDRA_CHECKER_FLOOR=)
configure(tree "written with zeros" "CHECKER=29;REPLACER=29;PROGRAM=29" -DTINDRA_REVISION=0029)
configure(tree "a floor above the revision" "error:TINDRA_REPLACER_FLOOR is 30, above this build's revision 29"
          -DTINDRA_REPLACER_FLOOR=30)
configure(tree "not a number" "error:TINDRA_REPLACER_FLOOR must be a whole number"
          -DTINDRA_REPLACER_FLOOR=x)
configure(first "a publisher's floor at the first configure" "CHECKER=27;REPLACER=26;PROGRAM=27"
          -DTINDRA_REVISION=27 -DTINDRA_REPLACER_FLOOR=26)
configure(first "it stays for revision 28" "CHECKER=28;REPLACER=26;PROGRAM=28"
          -DTINDRA_REVISION=28)

# The cache of an earlier build, first configured as 28: its floors were that default,
# and follow 27 now; one first configured as 27 keeps 27 for revision 28, and says so.
configure(earlier "" "" -DEARLIER=ON -DTINDRA_REVISION=28)
configure(earlier "an earlier build's cache, revision 27 now" "CHECKER=27;REPLACER=27;PROGRAM=27"
          -DEARLIER=OFF -DTINDRA_REVISION=27)
configure(earlier "then 28" "CHECKER=28;REPLACER=28;PROGRAM=28" -DTINDRA_REVISION=28)
configure(older "" "" -DEARLIER=ON -DTINDRA_REVISION=27)
configure(older "an earlier build's cache of 27, revision 28 now, warned"
          "CHECKER=27;REPLACER=27;PROGRAM=27" -DEARLIER=OFF -DTINDRA_REVISION=28)
