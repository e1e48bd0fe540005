# Cross-compiles for Windows x86-64 with MinGW-w64 (win32 thread model) and
# runs the resulting programs under Wine.
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
# Each build folder runs its programs in a Wine prefix of its own, made on
# first use, so two builds (or a downstream project) never share one by
# accident. WINE_RUN_PREFIX in the environment names another.
set(wine_runner ${CMAKE_BINARY_DIR}/wine-run)
file(WRITE ${wine_runner}
     "#!/bin/sh\nexport WINE_RUN_PREFIX=\"\${WINE_RUN_PREFIX:-${CMAKE_BINARY_DIR}/wine-prefix}\"\n"
     "exec \"${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run\" \"$@\"\n")
file(CHMOD ${wine_runner} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_runner})
