// GoogleTest side of the shared test helpers: bitwise checks of whole
// outputs, sentinel-filled buffers and readable names for parameterised
// cases.
#ifndef TESTS_SUPPORT_GTEST_SUPPORT_H
#define TESTS_SUPPORT_GTEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/bits.h"

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A value no kernel computes from the test inputs; buffers are pre-filled
// with it to see which elements a kernel wrote.
inline constexpr double kSentinel = -123456.75;

// Same size and, element by element, same_bits; the first difference is
// reported as (row, column) of a column-major matrix of the given rows.
inline testing::AssertionResult same_bits_as(
    const std::vector<double> &actual, const std::vector<double> &expected,
    int64_t rows) {
  if (actual.size() != expected.size()) {
    return testing::AssertionFailure()
           << actual.size() << " values, expected " << expected.size();
  }
  const std::string mismatch =
      bit_mismatch(actual.data(), expected.data(),
                   static_cast<int64_t>(actual.size()), rows);
  if (!mismatch.empty()) {
    return testing::AssertionFailure() << mismatch;
  }
  return testing::AssertionSuccess();
}

// Every element still holds kSentinel, bit for bit.
inline testing::AssertionResult untouched(const std::vector<double> &buffer) {
  for (size_t i = 0; i < buffer.size(); ++i) {
    if (bits_of(buffer[i]) != bits_of(kSentinel)) {
      return testing::AssertionFailure()
             << "element " << i
             << " was written: " << describe_double(buffer[i]);
    }
  }
  return testing::AssertionSuccess();
}

// Test names of parameterised cases: the case's name with every character
// that GoogleTest does not take in a name turned into '_'.
template <typename Case>
std::string case_name(const testing::TestParamInfo<Case> &info) {
  std::string name = info.param.name;
  for (char &c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

#endif  // TESTS_SUPPORT_GTEST_SUPPORT_H
