// Helpers shared by the kernel tests: views over vectors and seeded random
// draws (bitwise checks and sentinels are in tests/support/gtest_support.h).
#ifndef TESTS_KERNELS_KERNEL_TEST_UTIL_H
#define TESTS_KERNELS_KERNEL_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/double_matrix.h"
#include "reference_kernels.h"
#include "tests/support/gtest_support.h"

inline spike_bins::DoubleMatrix view_of(std::vector<double> &data, int32_t rows,
                                        int32_t cols) {
  return {rows, cols, data.data()};
}

// Seeded generators of the wide-range rule checks: each case draws from its
// own generator seeded by (kRandomSeed, case index), so a failing case can be
// rerun alone from the printed index.
using Rng = std::mt19937_64;
inline constexpr uint64_t kRandomSeed = 20240611;
inline constexpr int kRandomCases = 100000;

inline Rng case_rng(int index) {
  std::seed_seq seq{kRandomSeed, static_cast<uint64_t>(index)};
  return Rng(seq);
}

inline int pick(Rng &rng, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(rng);
}

inline double uniform(Rng &rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

inline bool chance(Rng &rng, int percent) { return pick(rng, 0, 99) < percent; }

// Mostly ordinary numbers, often edge values: +-0, NaN, +-Inf, subnormals,
// huge magnitudes and any bits.
inline double random_value(Rng &rng) {
  const int kind = pick(rng, 0, 99);
  const double sign = chance(rng, 50) ? 1.0 : -1.0;
  if (kind < 40) return uniform(rng, -10.0, 10.0);
  if (kind < 50) return pick(rng, -5, 5);
  if (kind < 55) return sign * 0.0;
  if (kind < 58) return kNaN;
  if (kind < 62) return sign * kInf;
  if (kind < 67) return sign * from_bits(rng() & 0x000fffffffffffffULL);
  if (kind < 72) return sign * 1e300 * uniform(rng, 0.5, 1.7e8);
  if (kind < 90) return from_bits(rng());
  return 0.1 * pick(rng, -30, 30);
}

#endif  // TESTS_KERNELS_KERNEL_TEST_UTIL_H
