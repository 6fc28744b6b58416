# Cross build for Windows with Debian's mingw-w64 (the POSIX-threads compilers):
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DMINGW_ARCH=i686
# Programs are linked statically, so they need no compiler runtime DLL beside them. Where wine
# can run the target's programs, it is the emulator through which CTest runs the tests.
set(MINGW_ARCH x86_64 CACHE STRING "Target processor: x86_64 or i686")
set_property(CACHE MINGW_ARCH PROPERTY STRINGS x86_64 i686)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_ARCH})
set(triple ${MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# wine64 runs x86_64 programs; the 32-bit loader exists only where 32-bit wine is installed.
if(MINGW_ARCH STREQUAL "x86_64")
  find_program(WINE_LOADER NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(WINE_LOADER NAMES wine64)
else()
  find_program(WINE_LOADER NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()
if(WINE_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_LOADER})
endif()
