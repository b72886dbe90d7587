// Fuzz cases of the exponential kernel: decodes a shape, a mode byte and the
// exponents, runs portable_exp into an output of exactly the input's shape
// (or in place) and compares it bit for bit with reference_exp_all. Also
// hands the kernel outputs of the wrong shape and checks that it writes
// nothing.
//
// Input layout: rows byte, columns byte, mode byte (0x40: in place; 0x80 and
// the low bits: a wrong output shape, see fuzz_check.h), then one exponent
// per element, column by column: a tag byte and its value (take_exponent).
#ifndef FUZZ_CASES_PORTABLE_EXP_H
#define FUZZ_CASES_PORTABLE_EXP_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_decode.h"
#include "rate/portable_exp.h"
#include "reference_kernels.h"

namespace {

using namespace spike_bins;

const double kKernelFill = -1.2345678901234567e-300;
const double kReferenceFill = 9.8765432109876543e-301;

// An exponent: tag % 4 is 0: any value of take_value; 1: within 127 ulps
// of the overflow (tag bit 4) or underflow threshold; 2: spread over the
// whole range -746 .. 710 by a 32-bit fraction; 3: a whole multiple of
// ln 2 (the reduction's edges).
inline double take_exponent(FuzzBytes *in) {
  const uint8_t tag = take_byte(in);
  switch (tag % 4) {
    case 0:
      return take_value(in);
    case 1: {
      const double threshold =
          (tag & 4) ? 709.782712893383973096 : -745.13321910194110842;
      const int64_t step = take_i8(in);
      return from_bits(bits_of(threshold) + static_cast<uint64_t>(step));
    }
    case 2:
      return -746.0 + static_cast<double>(take_u32(in)) * 0x1.6cp-22;
    default: {
      const int32_t k = take_i8(in) * 9;  // -1152 .. 1143
      return static_cast<double>(k) * 0x1.62e42fefa39efp-1;
    }
  }
}

void fuzz_one(FuzzBytes *in) {
  const int32_t rows = take_count(in, 8, 100);
  const int32_t cols = take_count(in, 4, 12);
  const uint8_t mode = take_byte(in);
  // Exactly rows * cols exponents on the heap: a read past them is an
  // overrun.
  std::vector<double> x(static_cast<size_t>(rows) * cols);
  for (double &value : x) {
    value = take_exponent(in);
  }
  const ExpShape shape = portable_exp_output_shape(rows, cols);
  if (shape.status != ExpShapeStatus::ok || shape.rows != rows ||
      shape.cols != cols) {
    fuzz_fail("size rule for %d x %d: status %d, %d x %d", rows, cols,
              static_cast<int>(shape.status), shape.rows, shape.cols);
  }
  const int64_t count = int64_t{rows} * cols;
  std::vector<double> expected(x.size(), kReferenceFill);
  reference_exp_all(x.data(), count, expected.data());
  if (mode & 0x40) {
    std::vector<double> y = x;
    portable_exp({rows, cols, y.data()}, {rows, cols, y.data()});
    check_same_bits(expected.data(), y.data(), count, "portable_exp in place");
  } else {
    std::vector<double> y(x.size(), kKernelFill);
    portable_exp({rows, cols, x.data()}, {rows, cols, y.data()});
    check_same_bits(expected.data(), y.data(), count, "portable_exp");
  }
  int32_t y_rows = 0;
  int32_t y_cols = 0;
  if (wrong_output_shape(mode, rows, cols, &y_rows, &y_cols)) {
    std::vector<double> y(static_cast<size_t>(y_rows) * y_cols, kKernelFill);
    portable_exp({rows, cols, x.data()}, {y_rows, y_cols, y.data()});
    check_unwritten(y.data(), static_cast<int64_t>(y.size()), kKernelFill,
                    "portable_exp into an output of the wrong shape");
  }
}

}  // namespace

#endif  // FUZZ_CASES_PORTABLE_EXP_H
