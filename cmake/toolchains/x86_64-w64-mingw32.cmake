# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads
# flavour, g++-mingw-w64-x86-64-posix). Executables are linked statically so
# that they run under wine without the MinGW runtime DLLs; the tests run under
# wine64 with its prefix (the emulated Windows installation) inside the build
# folder and wine's debug messages off.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages: the target's, and projects installed outside the sysroot (an
# installed spike_bins, found by its path).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# DLLs (the modules, the stub host) carry their C++ runtime inside, so they
# import only Windows system DLLs and the host.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
find_program(WINE64 NAMES wine64 wine HINTS /usr/lib/wine REQUIRED)
find_program(ENV_PROGRAM env REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ENV_PROGRAM}
    WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all ${WINE64})
