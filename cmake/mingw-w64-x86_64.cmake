# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix threads), and runs the
# resulting programs under Wine, so that ctest works as it does for a native build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QVR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QVR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained programs: no libstdc++, libgcc, winpthread or zlib DLL to carry beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

# Every test program and script test runs through this, with a Wine prefix in the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
