# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which std::thread and GoogleTest need).
#
#   cmake --preset windows      (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
#
# When Wine is installed, the test programs run under it: ctest works in the
# build folder as it does natively, in a Wine prefix of the build's own.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PKLFIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PKLFIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PKLFIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PKLFIX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PKLFIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and winpthreads linked in: each .exe runs on its own, with
# no MinGW DLLs to ship or find.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian installs wine64 outside PATH.
find_program(PKLFIX_WINE NAMES wine64 wine HINTS /usr/lib/wine)
if(PKLFIX_WINE)
  # No Mono or Gecko: they are not needed and would be looked for online.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
      ${PKLFIX_WINE})
endif()
