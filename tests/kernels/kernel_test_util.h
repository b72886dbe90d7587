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
#include "tests/support/gtest_support.h"

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
    if (bits_of(buffer[i]) != bits_of(kSentinel)) {
      ADD_FAILURE() << context << ": element " << i << " was written";
      return false;
    }
  }
  return true;
}

#endif  // TESTS_KERNELS_KERNEL_TEST_UTIL_H
