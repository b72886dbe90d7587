// Bitwise comparison of doubles, the one used by every test and fuzzer:
// results are defined to the bit, so two values agree when they have the same
// bits (+0.0 and -0.0 differ) or are both NaN (payloads may differ between
// compilers and machines).
#ifndef TESTS_SUPPORT_BITS_H
#define TESTS_SUPPORT_BITS_H

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

inline uint64_t bits_of(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline double from_bits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline bool same_bits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || bits_of(a) == bits_of(b);
}

// Index of the first i < count where same_bits(a[i], b[i]) fails, or -1.
inline int64_t first_bit_mismatch(const double *a, const double *b,
                                  int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    if (!same_bits(a[i], b[i])) return i;
  }
  return -1;
}

// A double as a 17-digit decimal plus its hex bits, for failure messages.
inline std::string describe_double(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g [0x%016" PRIx64 "]", value,
                bits_of(value));
  return text;
}

// Empty when actual[i] and expected[i] agree for every i < count; otherwise
// names the first element that does not, as (row, column) of a column-major
// matrix of the given row count.
inline std::string bit_mismatch(const double *actual, const double *expected,
                                int64_t count, int64_t rows) {
  const int64_t i = first_bit_mismatch(actual, expected, count);
  if (i < 0) return "";
  const int64_t r = rows > 0 ? rows : 1;
  return "row " + std::to_string(i % r) + " column " + std::to_string(i / r) +
         " is " + describe_double(actual[i]) + ", expected " +
         describe_double(expected[i]);
}

#endif  // TESTS_SUPPORT_BITS_H
