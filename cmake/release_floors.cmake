# The lowest revision of each program that a build keeps (its floors): the build's own
# revision unless the publisher sets another with -DTINDRA_CHECKER_FLOOR=,
# -DTINDRA_REPLACER_FLOOR= or -DTINDRA_PROGRAM_FLOOR= (make ... CMAKE_ARGS).
#
# tindra_release_floors(<out> <revision>): sets <out> to the compile definitions
# TINDRA_CHECKER_FLOOR=<n>;TINDRA_REPLACER_FLOOR=<n>;TINDRA_PROGRAM_FLOOR=<n>.
#
# Each cache entry stays empty unless the publisher sets it, so that an unset floor
# follows <revision> at every configure: a default written into the cache would keep
# the revision of the first configure, and a tree built as 28 and then as 27 would make
# a revision 27 that refuses its own companions. A floor that is set stays until it is
# cleared (-DTINDRA_CHECKER_FLOOR=); one above <revision> is refused, since such a
# build would refuse its own programs. Caches of earlier builds held the default as a
# number: one not below <revision> is taken for that default and cleared, one below it
# is kept as the publisher's, with a warning.
include_guard(GLOBAL)

function(tindra_release_floors out revision)
  math(EXPR revision "${revision}")
  set(definitions)
  foreach(floor CHECKER REPLACER PROGRAM)
    set(var TINDRA_${floor}_FLOOR)
    set(help "Lowest revision of the ${floor} program this build keeps (empty: the build's revision)")
    get_property(earlier CACHE ${var} PROPERTY HELPSTRING)
    if(earlier STREQUAL "Lowest revision of the ${floor} program this build keeps")
      if(${var} MATCHES "^[0-9]+$" AND ${var} LESS revision)
        message(WARNING "${var} is ${${var}}, from an earlier configure, below this build's "
                        "revision ${revision}: kept as set. Clear it (-D${var}=) to follow the revision.")
      else()
        set(${var} "")
      endif()
      set(${var} "${${var}}" CACHE STRING "${help}" FORCE)
    endif()
    set(${var} "" CACHE STRING "${help}")
    set(value "${${var}}")
    if(value STREQUAL "")
      set(value ${revision})
    elseif(NOT value MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${var} must be a whole number, or empty for the build's revision")
    elseif(value GREATER revision)
      message(FATAL_ERROR "${var} is ${value}, above this build's revision ${revision}: the "
                          "build would refuse its own programs. Set it lower, or clear it "
                          "(-D${var}=) to follow the revision.")
    endif()
    math(EXPR value "${value}")
    list(APPEND definitions ${var}=${value})
  endforeach()
  set(${out} ${definitions} PARENT_SCOPE)
endfunction()
