# The 64-bit Windows programs, for machines that cannot run 32-bit code.
set(TINDRA_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
