// Elementwise exp of a matrix of doubles, the same bits on every platform.
//
// Each element x of the input becomes exp(x) within 1 ulp of the correctly
// rounded value, computed by this fixed sequence of IEEE double operations,
// each rounded on its own (no fused multiply-add, no library call):
//
//   NaN                        -> x + x (a quiet NaN)
//   x > 709.782712893383973096 -> +Inf
//   x < -745.13321910194110842 -> +0.0
//   otherwise, with the constants below:
//     t  = x * kInvLn2 + kRoundShift          (kRoundShift = 0x1.8p52)
//     kd = t - kRoundShift                    (x / ln 2 to a whole number)
//     hi = x - kd * kLn2Hi
//     lo = kd * kLn2Lo
//     r  = hi - lo
//     s  = r * r
//     c  = r - s * (P1 + s * (P2 + s * (P3 + s * (P4 + s * P5))))
//     y  = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi)
//     result = (y * 2^k1) * 2^k2,  k = kd, k1 = floor(k / 2), k2 = k - k1
//
// 2^k1 and 2^k2 are normal doubles made from exponent bits (-538 <= k1,
// k2 <= 512): the first product is exact, the second rounds once and only
// when the result is subnormal, so the pair equals ldexp(y, k). The main
// path runs on every element, with x replaced by 0 where x is one of the
// three special cases, and the result is selected afterwards: no lane ever
// turns a NaN or a huge value into an integer, and the loop is branch-free
// (it vectorises; each lane makes the same operations as one element alone).
#ifndef RATE_PORTABLE_EXP_H
#define RATE_PORTABLE_EXP_H

#include <cstdint>

#include "common/double_matrix.h"

namespace spike_bins {

// The constants of the sequence (decimal forms of the doubles meant).
namespace exp_constants {
constexpr double kOverflow = 709.782712893383973096;    // 0x1.62e42fefa39efp+9
constexpr double kUnderflow = -745.13321910194110842;   // -0x1.74910d52d3051p+9
constexpr double kInvLn2 = 1.44269504088896338700e+00;  // 0x1.71547652b82fep+0
constexpr double kRoundShift = 6755399441055744.0;      // 0x1.8p52
constexpr double kLn2Hi = 6.93147180369123816490e-01;   // 0x1.62e42feep-1
constexpr double kLn2Lo = 1.90821492927058770002e-10;   // 0x1.a39ef35793c76p-33
constexpr double kP1 = 1.66666666666666019037e-01;      // 0x1.555555555553ep-3
constexpr double kP2 = -2.77777777770155933842e-03;     // -0x1.6c16c16bebd93p-9
constexpr double kP3 = 6.61375632143793436117e-05;      // 0x1.1566aaf25de2cp-14
constexpr double kP4 = -1.65339022054652515390e-06;  // -0x1.bbd41c5d26bf1p-20
constexpr double kP5 = 4.13813679705723846039e-08;   // 0x1.6376972bea4d0p-25
}  // namespace exp_constants

// The size rule shared by the kernel and the hosts' checks: the result has
// the input's rows and columns; negative counts have no result.
enum class ExpShapeStatus {
  ok,
  bad_size,  // a negative row or column count
};

struct ExpShape {
  ExpShapeStatus status;
  int32_t rows;
  int32_t cols;
};

ExpShape portable_exp_output_shape(int32_t rows, int32_t cols);

// Writes y(i, j) = exp(x(i, j)) for every element, by the sequence above.
// y may be x itself (the values are replaced in place) but must not overlap
// it otherwise. Writes nothing unless the shape rule accepts x's size and y
// has exactly x's rows and columns.
void portable_exp(DoubleMatrix x, DoubleMatrix y);

}  // namespace spike_bins

#endif  // RATE_PORTABLE_EXP_H
