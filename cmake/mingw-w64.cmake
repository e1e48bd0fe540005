# The toolchain file of the windows preset: cross-compiles for Windows
# x86-64 with MinGW-w64 (win32 thread model) and runs the resulting programs
# under Wine. Read at configure; sets CMAKE_CROSSCOMPILING_EMULATOR, which
# the top-level CMakeLists.txt turns into BUILD/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Programs run under Wine through scripts/wine-run, each build folder's in a
# Wine prefix of its own, made on first use, so two builds (or a downstream
# project) never share one by accident. WINE_RUN_PREFIX in the environment
# names another: the runner takes WINE_RUN_DEFAULT_PREFIX only without it.
get_filename_component(_morvex_wine_run ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR env WINE_RUN_DEFAULT_PREFIX=${CMAKE_BINARY_DIR}/wine-prefix
                                  ${_morvex_wine_run})
