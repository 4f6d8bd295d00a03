# Cross-compiles the Windows programs with MinGW-w64: posix thread model, statically
# linked. Included by the toolchain file of each architecture (mingw-i686.cmake,
# mingw-x86_64.cmake), which sets TINDRA_MINGW_ARCH first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TINDRA_MINGW_ARCH})
set(_triple ${TINDRA_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# CTest runs the Windows test programs through Wine, each in a slot of the test
# environment (prefix, display, locale, and for 64-bit programs the 64-bit loader)
# that scripts/wine-slot.sh sets up.
get_filename_component(_tindra_root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${_tindra_root}/scripts/wine-slot.sh wine)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
