# Cross-building for 64-bit Windows with Debian's MinGW-w64 toolchain (posix thread model), the
# programs run under Wine. Everything is linked statically, so that a program needs no DLL of the
# toolchain beside it.
# (mingw-w64-i686.cmake sets the triple for 32-bit Windows and includes this file.)
set(CMAKE_SYSTEM_NAME Windows)
if(NOT BREVOMAT_MINGW_TRIPLE)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(BREVOMAT_MINGW_TRIPLE x86_64-w64-mingw32)
endif()

find_program(CMAKE_CXX_COMPILER NAMES ${BREVOMAT_MINGW_TRIPLE}-g++-posix ${BREVOMAT_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${BREVOMAT_MINGW_TRIPLE}-gcc-posix ${BREVOMAT_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${BREVOMAT_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BREVOMAT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# ctest (and test discovery) run the Windows programs through Wine.
find_program(BREVOMAT_WINE NAMES wine wine64)
if(BREVOMAT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BREVOMAT_WINE})
endif()
