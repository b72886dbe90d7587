# Shared by the Linux cross toolchain files: Debian's <triplet>-gcc/g++ cross
# compilers with the target's libraries in /usr/<triplet>, and the tests run
# under qemu-user (user-mode emulation, the target's libraries found through
# -L, no binfmt registration needed). The including file sets
# CROSS_TRIPLET, CROSS_PROCESSOR and CROSS_QEMU first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages: the target's, and projects installed outside the sysroot (an
# installed spike_bins, found by its path).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
find_program(CROSS_QEMU_EXECUTABLE ${CROSS_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_QEMU_EXECUTABLE} -L
    /usr/${CROSS_TRIPLET})
