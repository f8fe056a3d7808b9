# Cross-building for 32-bit Windows (i686) with Debian's MinGW-w64 toolchain: the same as the
# 64-bit build, for the other processor.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BREVOMAT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
