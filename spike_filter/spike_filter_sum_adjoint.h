// The adjoint of the windowed spike-train filter sum with respect to the
// filters: for y = spike_filter_sum(spinds, h, twin) and any r of y's shape,
// g = spike_filter_sum_adjoint(spinds, r, twin, c) gives
// sum(y .* r) = sum(h .* g) in exact arithmetic, for every h of c taps.
//
// r is R x M (R = T1 - T0 + 1, the window's rows); g is c x M. The spikes
// taken are exactly those the forward scan takes with c taps (the same skip
// below L = T0 - c + 1, the same stop at U = T1 + 1 or a NaN, the same
// truncation; see spike_filter/spike_scan.h). For each taken spike in list
// order, with B its bin, a = max(B, T0) and z = min(B + c - 1, T1), when
// a <= z: for each column m = 0 .. M-1 in turn and each bin t = a .. z
// ascending, g(t - B, m) = r(t - T0, m) + g(t - B, m), one IEEE double
// addition each. g starts from zeros. The bits are those of this order; the
// kernel scans the spikes once per column, which gives every element of g
// the same additions in the same order.
#ifndef SPIKE_FILTER_SPIKE_FILTER_SUM_ADJOINT_H
#define SPIKE_FILTER_SPIKE_FILTER_SUM_ADJOINT_H

#include <cstdint>

#include "common/double_matrix.h"
#include "spike_filter/spike_filter_sum.h"

namespace spike_bins {

// The window, the tap count and the check of r's rows: the one size rule
// shared by the kernel and the host gateways.
enum class SpikeAdjointShapeStatus {
  ok,
  bad_window,        // window.status says why
  bad_tap_count,     // ntaps negative, fractional, NaN, +-Inf or >= 2^31
  wrong_input_rows,  // r's rows are not the window's T1 - T0 + 1
};

struct SpikeAdjointShape {
  SpikeAdjointShapeStatus status;  // no output can be made unless ok
  SpikeWindow window;              // spike_window(twin)
  int32_t taps;                    // c, the output rows (when ntaps is valid)
};

// Reads twin[0] and twin[1]; checks the window, then ntaps, then input_rows.
SpikeAdjointShape spike_adjoint_shape(const double *twin, double ntaps,
                                      int32_t input_rows);

// Adds into g (c x r.cols), which must hold zeros on entry, as above. Reads
// twin[0] and twin[1]. Writes nothing when the shape is invalid or g is not
// exactly c x r.cols; b <= 0 means no spikes. Spike times of any value (NaN,
// +-Inf, far outside the 32-bit range) are safe. g's data must not overlap
// r, spinds or twin.
void spike_filter_sum_adjoint(const double *spinds, int32_t b, DoubleMatrix r,
                              const double *twin, double ntaps, DoubleMatrix g);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_SPIKE_FILTER_SUM_ADJOINT_H
