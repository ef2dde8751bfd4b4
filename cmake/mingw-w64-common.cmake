# The part of the Windows toolchain files that both targets share.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZUSMS_MINGW_TRIPLE})
set(CMAKE_C_COMPILER ${ZUSMS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZUSMS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZUSMS_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZUSMS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every binary carries its own libgcc, libstdc++ and winpthread, so that it
# needs only the DLLs that Windows itself ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under wine64 (64-bit only).
if(ZUSMS_MINGW_TRIPLE STREQUAL "x86_64-w64-mingw32")
  find_program(ZUSMS_WINE NAMES wine64 wine PATHS /usr/lib/wine)
  if(ZUSMS_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZUSMS_WINE})
  endif()
endif()
