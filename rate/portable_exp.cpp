#include "rate/portable_exp.h"

#include <cstring>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"

namespace spike_bins {

ExpShape portable_exp_output_shape(int32_t rows, int32_t cols) {
  if (rows < 0 || cols < 0) {
    return {ExpShapeStatus::bad_size, 0, 0};
  }
  return {ExpShapeStatus::ok, rows, cols};
}

namespace {

KERNEL_INLINE uint64_t bits_of(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

KERNEL_INLINE double double_of(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// All ones for true, all zeros for false.
KERNEL_INLINE uint64_t mask_of(bool condition) {
  return uint64_t{0} - static_cast<uint64_t>(condition);
}

// exp(x) by the header's sequence, branch-free: every operation runs on
// every element and the special cases are chosen at the end.
KERNEL_INLINE double exp_one(double x) {
  using namespace exp_constants;
  // Each choice is a mask of all ones or all zeros, applied to bits: the
  // compiler sees no branch to move work behind (that stops vectorisation)
  // and no special-case value to fold into the main path.
  const uint64_t in_range = mask_of(x >= kUnderflow) & mask_of(x <= kOverflow);
  const uint64_t overflows = mask_of(x > kOverflow);
  const uint64_t is_nan = mask_of(x != x);
  // The main path's operand: x in range, +0.0 otherwise.
  const double v = double_of(bits_of(x) & in_range);
  const double t = v * kInvLn2 + kRoundShift;
  const double kd = t - kRoundShift;
  const double hi = v - kd * kLn2Hi;
  const double lo = kd * kLn2Lo;
  const double r = hi - lo;
  const double s = r * r;
  const double c = r - s * (kP1 + s * (kP2 + s * (kP3 + s * (kP4 + s * kP5))));
  const double y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
  // k = kd, read from t's low bits (t = 1.5 * 2^52 + k, an integer spacing
  // of 1): no floating-point-to-integer conversion. With the bias 2048 the
  // count is positive (-1075 <= k <= 1024), so that a logical shift halves
  // it: half = floor(k / 2) + 1024 = k1 + 1024, and k2 + 1023 =
  // biased - half - 1.
  const uint64_t biased = bits_of(t) - bits_of(kRoundShift) + 2048;
  const uint64_t half = biased >> 1;
  const double scale1 = double_of((half - 1) << 52);           // 2^k1
  const double scale2 = double_of((biased - half - 1) << 52);  // 2^k2
  const double scaled = (y * scale1) * scale2;
  // The result: scaled in range, +Inf above it, x + x for a NaN, +0.0
  // below (no bit set).
  const uint64_t infinity = 0x7ff0000000000000;
  return double_of((bits_of(scaled) & in_range) | (infinity & overflows) |
                   (bits_of(x + x) & is_nan));
}

// Blocks of kVectorBlock elements (loops of known length, which the
// compiler vectorises), then the rest one at a time: the same operations.
// y and x do not overlap here.
KERNEL_INLINE void exp_apart(const double *__restrict x, int64_t count,
                             double *__restrict y) {
  int64_t i = 0;
  for (; i + kVectorBlock <= count; i += kVectorBlock) {
    for (int lane = 0; lane < kVectorBlock; ++lane) {
      y[i + lane] = exp_one(x[i + lane]);
    }
  }
  for (; i < count; ++i) {
    y[i] = exp_one(x[i]);
  }
}

// The same in place: each element is read, then written.
KERNEL_INLINE void exp_in_place(double *v, int64_t count) {
  int64_t i = 0;
  for (; i + kVectorBlock <= count; i += kVectorBlock) {
    for (int lane = 0; lane < kVectorBlock; ++lane) {
      v[i + lane] = exp_one(v[i + lane]);
    }
  }
  for (; i < count; ++i) {
    v[i] = exp_one(v[i]);
  }
}

}  // namespace

void portable_exp(DoubleMatrix x, DoubleMatrix y) {
  const ExpShape shape = portable_exp_output_shape(x.rows, x.cols);
  if (shape.status != ExpShapeStatus::ok || y.rows != shape.rows ||
      y.cols != shape.cols) {
    return;
  }
  const int64_t count = int64_t{x.rows} * x.cols;
  if (count == 0) {
    return;
  }
  if (y.data == x.data) {
    call_fastest<exp_in_place>(y.data, count);
  } else {
    call_fastest<exp_apart>(static_cast<const double *>(x.data), count, y.data);
  }
}

}  // namespace spike_bins
