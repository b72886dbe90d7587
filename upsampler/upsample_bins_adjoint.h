// The adjoint of bin-centred linear upsampling: for y = upsample_bins(x, nbns)
// and any r of y's shape, g = upsample_bins_adjoint(r, nbns) gives
// sum(y .* r) = sum(x .* g) in exact arithmetic.
//
// E = nbns truncated toward zero (E >= 1), G = E / 2, h = 1.0 / nbns, as in
// the forward. Each column of r (F rows, F a multiple of E) gives a column of
// g of m = F / E rows. Sample j of a column gets acc = +0.0, then, for each
// row rho of r that sample j feeds in the forward, in ascending row order,
// acc = (w * h) * r[rho] + acc with the product w * h rounded first, where w
// is that row's integer weight for sample j:
//   head row i (j = 0):               G + 1 + i
//   gap before x_j, position k:       k + 1
//   gap after x_j, position k:        E - 1 - k (the last one, 0, included)
//   tail position k (j = m - 1):      E - 1 - k
// One form for every column count. A zero weight still multiplies, so an
// infinite r on such a row gives NaN. Every product and sum is one IEEE
// double operation in this order, no fused multiply-add.
#ifndef UPSAMPLER_UPSAMPLE_BINS_ADJOINT_H
#define UPSAMPLER_UPSAMPLE_BINS_ADJOINT_H

#include <cstdint>

#include "common/double_matrix.h"

namespace spike_bins {

// Output size for r of input_rows rows and a given nbns: the one size rule
// shared by the kernel and the host gateways.
enum class UpsampleAdjointShapeStatus {
  ok,
  bad_bin_count,   // nbns NaN, +-Inf, < 1 or >= 2^31: E undefined or < 1
  bad_input_rows,  // input_rows negative or not a multiple of E
};

struct UpsampleAdjointShape {
  UpsampleAdjointShapeStatus status;  // no output can be made unless ok
  int32_t bins_per_sample;            // E (when nbns is valid)
  int32_t output_rows;                // m = input_rows / E
};

UpsampleAdjointShape upsample_adjoint_shape(int32_t input_rows, double nbns);

// Writes every element of g (output_rows x r.cols) from r; never reads g.
// Writes nothing when the shape is invalid or g does not have exactly
// output_rows rows and r.cols columns. g's data must not overlap r's.
void upsample_bins_adjoint(DoubleMatrix r, double nbns, DoubleMatrix g);

}  // namespace spike_bins

#endif  // UPSAMPLER_UPSAMPLE_BINS_ADJOINT_H
