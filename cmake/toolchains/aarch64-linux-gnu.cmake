# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; the
# tests run under qemu-aarch64.
set(CROSS_TRIPLET aarch64-linux-gnu)
set(CROSS_PROCESSOR aarch64)
set(CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian_linux_cross.cmake)
