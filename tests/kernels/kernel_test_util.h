// Helpers shared by the kernel tests: views over vectors, sentinel-filled
// buffers and bitwise comparison with readable failure messages.
#ifndef TESTS_KERNELS_KERNEL_TEST_UTIL_H
#define TESTS_KERNELS_KERNEL_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/double_matrix.h"
#include "reference_kernels.h"

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A value no kernel computes from the test inputs; buffers are pre-filled
// with it to see which elements a kernel wrote.
inline constexpr double kSentinel = -123456.75;

inline uint64_t raw_bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline DoubleMatrix view_of(std::vector<double> &data, int32_t rows,
                            int32_t cols) {
  return {rows, cols, data.data()};
}

// Every element of actual has the same bits as in expected (NaN = NaN).
inline void expect_same_bits(const std::vector<double> &actual,
                             const std::vector<double> &expected,
                             const std::string &context) {
  ASSERT_EQ(actual.size(), expected.size()) << context;
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_TRUE(same_bits(actual[i], expected[i]))
        << context << ": element " << i << " is " << describe_double(actual[i])
        << ", expected " << describe_double(expected[i]);
  }
}

// Every element still holds kSentinel, bit for bit; reports the first one
// that does not and returns whether all do.
inline bool expect_untouched(const std::vector<double> &buffer,
                             const std::string &context) {
  for (size_t i = 0; i < buffer.size(); ++i) {
    if (raw_bits(buffer[i]) != raw_bits(kSentinel)) {
      ADD_FAILURE() << context << ": element " << i << " was written";
      return false;
    }
  }
  return true;
}

#endif  // TESTS_KERNELS_KERNEL_TEST_UTIL_H
