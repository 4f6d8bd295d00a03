# The 32-bit Windows programs: what ships.
set(TINDRA_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
