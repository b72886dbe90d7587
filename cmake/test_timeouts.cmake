# Time limits of the CTest tests. Every test has one (the CTest test
# test_timeouts checks it), so that a test that hangs fails by itself
# instead of holding its stage until CI stops the whole run. Each limit is
# at least 8 times the test's time on a quiet machine: the shared 2-core
# machine may run 8 jobs at once, and at a load of 9 a test takes 4 to 6
# times as long. The quiet times (CPU seconds of the test's processes,
# default preset, measured on the 2-core machine) are written beside each
# limit; tests/CMakeLists.txt and the folders of the tests hold the limits.
#
# SPIKE_BINS_QUICK_TEST_TIMEOUT: the limit of the quick tests, each under
# 2 s on a quiet machine: one GoogleTest case (the slowest 1.4 s), an export
# table, a fuzz corpus replay, a build script's check, a worked example
# under wine. Under a user-mode emulator (qemu, wine) a GoogleTest case
# runs up to 10 times slower than natively: 300 s there.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(SPIKE_BINS_QUICK_TEST_TIMEOUT 300)
else()
  set(SPIKE_BINS_QUICK_TEST_TIMEOUT 120)
endif()
