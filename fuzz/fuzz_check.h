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

// An output one row or one column off rows x cols, for the kernels'
// writes-nothing checks, picked by the mode byte: bit 0x80 asks for one, bit
// 0 makes it one row (1: one column) more rather than fewer, bit 2 changes
// the rows rather than the columns. False when none is asked for or it would
// be empty of sense (a negative count) or too large to fill.
inline bool wrong_output_shape(uint8_t mode, int32_t rows, int32_t cols,
                               int32_t *wrong_rows, int32_t *wrong_cols) {
  if (!(mode & 0x80)) return false;
  const int32_t other_rows =
      rows == INT32_MAX ? 0 : rows + ((mode & 1) ? 1 : -1);
  const int32_t other_cols = cols + ((mode & 2) ? 1 : -1);
  const bool rows_wrong = (mode & 4) || other_cols < 0;
  *wrong_rows = rows_wrong ? other_rows : rows;
  *wrong_cols = rows_wrong ? cols : other_cols;
  return *wrong_rows >= 0 && *wrong_cols >= 0 &&
         int64_t{*wrong_rows} * *wrong_cols <= kMaxFuzzOutput;
}

#endif  // FUZZ_FUZZ_CHECK_H
