# Cross build for 32-bit x86 Linux with Debian's g++-i686-linux-gnu (not
# g++-multilib, which Debian 12 cannot install beside the aarch64 cross
# compiler). The kernels refuse x87 math (common/exact_math_guard.h); the
# build selects SSE2 math for every target (cmake/compile_options.cmake).
# The tests run under qemu-i386 with the target's libraries found through -L,
# so the host needs no i386 libraries.
set(CROSS_TRIPLET i686-linux-gnu)
set(CROSS_PROCESSOR i686)
set(CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian_linux_cross.cmake)
