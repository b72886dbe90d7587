// The adjoint of the targets-major population sum with respect to the
// filters: for y = spike_filter_multi(spinds, ids, h, twin, N, base) and any
// r of y's shape, g = spike_filter_multi_adjoint(spinds, ids, r, twin, c, N,
// base) gives sum(y .* r) = sum(h .* g) in exact arithmetic, for every h of
// K x (c*N).
//
// r is K x R (R = T1 - T0 + 1, the window's bins: one row per target, one
// column per bin); g is K x (c*N), element (k, n*c + q) tap q of source n's
// filter onto target k. The spikes taken are exactly those the forward takes
// with c taps (see spike_filter/spike_scan.h). For each taken spike in list
// order, from source n, with B its bin, a = max(B, T0) and
// z = min(B + c - 1, T1), when a <= z: for t = a .. z ascending and
// k = 0 .. K-1 ascending, g(k, n*c + t - B) = r(k, t - T0) + g(k, n*c + t - B),
// one IEEE double addition each: one contiguous run of K*(z - a + 1)
// additions per spike. Row k of g holds, column-major flattened, the bits of
// spike_filter_pop_adjoint's c x N result for r(k, :)'.
#ifndef SPIKE_FILTER_SPIKE_FILTER_MULTI_ADJOINT_H
#define SPIKE_FILTER_SPIKE_FILTER_MULTI_ADJOINT_H

#include <cstdint>

#include "common/double_matrix.h"
#include "spike_filter/spike_filter_multi.h"
#include "spike_filter/spike_filter_sum_adjoint.h"

namespace spike_bins {

// Adds into g (K x c*N) as above; g holds its starting values on entry
// (zeros for the hosts' results). Reads twin[0] and twin[1]. Writes nothing
// when spike_adjoint_shape(twin, ntaps, r.cols) (r's columns are the
// window's bins) or multi_sources_of_taps(nsources, c) refuses, an id is
// refused (first_bad_source_id), or g is not exactly r.rows x c*N. Spike
// times of any value are safe. g's data must not overlap any input.
void spike_filter_multi_adjoint(const double *spinds, const double *ids,
                                int32_t b, DoubleMatrix r, const double *twin,
                                double ntaps, double nsources, int32_t base,
                                DoubleMatrix g);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_SPIKE_FILTER_MULTI_ADJOINT_H
