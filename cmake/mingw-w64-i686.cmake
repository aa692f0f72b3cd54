# Cross-build for 32-bit Windows (x86): the compilers for i686, run under
# 32-bit Wine; the rest as for x64.
set(ZQ_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZQ_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
