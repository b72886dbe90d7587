// Bin-centred linear upsampling of the columns of a matrix.
//
// Each column of x (m coarse samples) becomes m * E fine bins, E = nbns
// truncated toward zero. Sample j sits on row j*E + E - G - 1 (G = E / 2);
// rows between two samples interpolate linearly, and the ramps before the
// first and after the last sample fall toward zero. h = 1.0 / nbns (from nbns
// itself, not from E). Results are bit-exact: every product and sum is one
// IEEE double operation in a fixed order, no fused multiply-add.
#ifndef UPSAMPLER_UPSAMPLE_BINS_H
#define UPSAMPLER_UPSAMPLE_BINS_H

#include <cstdint>

#include "common/double_matrix.h"

namespace spike_bins {

// Output size for an input of input_rows rows and a given nbns: the one size
// rule shared by the kernel and the host gateway.
enum class UpsampleShapeStatus {
  ok,
  bad_bin_count,   // nbns NaN, +-Inf, <= -1 or >= 2^31: E is undefined or < 0
  bad_input_rows,  // a negative input_rows
  too_many_rows,   // input_rows * E beyond 2^31 - 1
};

struct UpsampleShape {
  UpsampleShapeStatus status;  // no output can be made unless ok
  int32_t bins_per_sample;     // E; 0 for -1 < nbns < 1
  int32_t output_rows;         // input_rows * E
};

UpsampleShape upsample_output_shape(int32_t input_rows, double nbns);

// Writes every element of y (output_rows x x.cols) from x; never reads y.
// One-column x uses ((E-1-k)*a + (k+1)*b) * h, more columns use
// ((E-1-k)*h)*a + ((k+1)*h)*b: equal in exact arithmetic, not always in the
// last bit. Writes nothing when the shape is invalid, when y does not have
// exactly output_rows rows and x.cols columns, or when x has no rows. y's
// data must not overlap x's.
void upsample_bins(DoubleMatrix x, double nbns, DoubleMatrix y);

}  // namespace spike_bins

#endif  // UPSAMPLER_UPSAMPLE_BINS_H
