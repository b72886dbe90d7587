// Failure reporting of the fuzz targets: a broken expectation prints what was
// expected and found, then aborts, which libFuzzer (and the replay driver)
// report as a crash with the input that caused it.
#ifndef FUZZ_FUZZ_CHECK_H
#define FUZZ_FUZZ_CHECK_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "reference_kernels.h"

[[noreturn]] inline void fuzz_fail(const char *format, ...)
    __attribute__((format(printf, 1, 2)));

inline void fuzz_fail(const char *format, ...) {
  std::fputs("fuzz check failed: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::abort();
}

// Both arrays hold count doubles with the same bits (NaN = any NaN).
inline void check_same_bits(const double *expected, const double *actual,
                            int64_t count, const char *what) {
  const int64_t index = first_bit_mismatch(expected, actual, count);
  if (index >= 0) {
    fuzz_fail("%s: element %lld of %lld is %s, expected %s", what,
              static_cast<long long>(index), static_cast<long long>(count),
              describe_double(actual[index]).c_str(),
              describe_double(expected[index]).c_str());
  }
}

// Every element still has the bits of fill (the callee wrote nothing).
inline void check_unwritten(const double *values, int64_t count, double fill,
                            const char *what) {
  for (int64_t i = 0; i < count; ++i) {
    if (!same_bits(values[i], fill)) {
      fuzz_fail("%s: element %lld was written (%s)", what,
                static_cast<long long>(i), describe_double(values[i]).c_str());
    }
  }
}

// Output buffers larger than this are not filled: the fuzzers look for wrong
// bits and bad memory accesses, which show on small outputs as well, and
// stay fast and within libFuzzer's memory limit.
constexpr int64_t kMaxFuzzOutput = int64_t{1} << 16;

#endif  // FUZZ_FUZZ_CHECK_H
