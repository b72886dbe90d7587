# Cross build for 32-bit x86 Linux with Debian's g++-i686-linux-gnu (not
# g++-multilib, which Debian 12 cannot install beside the aarch64 cross
# compiler). The kernels refuse x87 math (common/exact_math_guard.h); the
# build selects SSE2 math for every target (cmake/compile_options.cmake).
# The tests run under qemu-i386 with the target's libraries found through -L,
# so the host needs no i386 libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages: the target's, and projects installed outside the sysroot (an
# installed spike_bins, found by its path).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
find_program(QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_I386} -L /usr/i686-linux-gnu)
