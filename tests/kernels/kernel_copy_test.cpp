// Each library runs the copy it was built for: the baseline library never
// a vector copy, so that its tests test the baseline code; the AVX2 library
// its AVX2 copy on an AVX2 machine, AVX-512 or not; the shipped one its
// AVX-512 copy where the CPU has AVX-512 (F and VL), else its AVX2 copy.
#include "common/kernel_copy.h"

#include <gtest/gtest.h>

using namespace spike_bins;

namespace {

bool cpu_has_avx2() {
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool cpu_has_avx512() {
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
  return __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512vl");
#else
  return false;
#endif
}

// A build whose flags already target AVX2 (-march=native on such a machine)
// compiles one copy, which is then its baseline.
bool build_targets_avx2() {
#ifdef __AVX2__
  return true;
#else
  return false;
#endif
}

TEST(KernelCopy, TheLibraryRunsTheCopyItWasBuiltFor) {
  KernelCopy expected = KernelCopy::baseline;
  if (KERNEL_COPIES == 3 && !build_targets_avx2() && cpu_has_avx512()) {
    expected = KernelCopy::avx512;
  } else if (KERNEL_COPIES >= 2 && !build_targets_avx2() && cpu_has_avx2()) {
    expected = KernelCopy::avx2;
  }
  EXPECT_EQ(kernel_copy_in_use(), expected);
}

}  // namespace
