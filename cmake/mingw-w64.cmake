# Cross-build for Windows with the posix-threads flavour of mingw-w64: 64-bit
# (x64) unless a toolchain file that includes this one chose the 32-bit
# compilers (mingw-w64-i686.cmake).
if(NOT ZQ_MINGW_TRIPLET)
  set(ZQ_MINGW_TRIPLET x86_64-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(ZQ_WINE_LOADER /usr/lib/wine/wine64)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZQ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZQ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZQ_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZQ_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests and tools run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZQ_WINE_LOADER})
# Boost is header-only for the parts the agent uses: the cross-build takes the
# build machine's headers (see the top-level CMakeLists for how).
set(Boost_INCLUDE_DIR /usr/include CACHE PATH "Boost headers")
# The binutils that split the debug information off the program.
set(CMAKE_OBJCOPY ${ZQ_MINGW_TRIPLET}-objcopy)
set(CMAKE_STRIP ${ZQ_MINGW_TRIPLET}-strip)
