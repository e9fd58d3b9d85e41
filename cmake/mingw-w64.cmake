# Cross-compiles the Win32 console build with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# When Wine is installed, ctest runs the Windows programs under it, in the
# Wine prefix ZAVO_WINEPREFIX (default: the folder "wine" of the build).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZAVO_MINGW_TRIPLE x86_64-w64-mingw32 CACHE STRING "mingw-w64 target")
# Debian ships each compiler in two thread models; GoogleTest wants
# std::mutex and std::condition_variable, which only the "posix" one has
# (its winpthreads is linked statically, so zavo.exe needs no extra DLL).
find_program(ZAVO_MINGW_CXX NAMES ${ZAVO_MINGW_TRIPLE}-g++-posix
             ${ZAVO_MINGW_TRIPLE}-g++)
find_program(ZAVO_MINGW_CC NAMES ${ZAVO_MINGW_TRIPLE}-gcc-posix
             ${ZAVO_MINGW_TRIPLE}-gcc)
set(CMAKE_C_COMPILER ${ZAVO_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ZAVO_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ZAVO_MINGW_TRIPLE}-windres)

# Libraries and packages come from the target's tree (and from any prefix
# given in CMAKE_PREFIX_PATH, such as a GoogleTest built for Windows);
# programs run during the build are the build machine's.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${ZAVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

if(NOT DEFINED ZAVO_WINEPREFIX)
  if(DEFINED ENV{WINEPREFIX})
    set(ZAVO_WINEPREFIX "$ENV{WINEPREFIX}")
  else()
    set(ZAVO_WINEPREFIX "${CMAKE_BINARY_DIR}/wine")
  endif()
  set(ZAVO_WINEPREFIX "${ZAVO_WINEPREFIX}" CACHE PATH "Wine prefix for tests")
endif()

find_program(ZAVO_WINE NAMES wine wine64)
if(ZAVO_WINE)
  # No display and no debug chatter: nothing may wait for a dialog.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${ZAVO_WINEPREFIX} WINEDEBUG=-all DISPLAY= ${ZAVO_WINE})
endif()
