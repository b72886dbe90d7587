// The adjoint of the population filter sum with respect to the filters: for
// y = spike_filter_pop(spinds, ids, h, twin, N, base) and any r of y's shape,
// g = spike_filter_pop_adjoint(spinds, ids, r, twin, c, N, base) gives
// sum(y .* r) = sum(h .* g) in exact arithmetic, for every h of c taps by
// N*K filters.
//
// r is R x K (R = T1 - T0 + 1, the window's rows); g is c x (N*K), column
// k*N + n the filter of source n for output column k. The spikes taken are
// exactly those the forward takes with c taps (see spike_filter/spike_scan.h).
// For each taken spike in list order, from source n, with B its bin,
// a = max(B, T0) and z = min(B + c - 1, T1), when a <= z: for each column
// k = 0 .. K-1 in turn and each bin t = a .. z ascending,
// g(t - B, k*N + n) = r(t - T0, k) + g(t - B, k*N + n), one IEEE double
// addition each. With N = 1 this is exactly spike_filter_sum_adjoint's order.
// The kernel scans the spikes once per column k, which gives every element of
// g the same additions in the same order.
#ifndef SPIKE_FILTER_SPIKE_FILTER_POP_ADJOINT_H
#define SPIKE_FILTER_SPIKE_FILTER_POP_ADJOINT_H

#include <cstdint>

#include "common/double_matrix.h"
#include "spike_filter/spike_filter_pop.h"
#include "spike_filter/spike_filter_sum_adjoint.h"

namespace spike_bins {

// Adds into g (c x N*K) as above; g holds its starting values on entry (zeros
// for the hosts' results). Reads twin[0] and twin[1]. Writes nothing when
// spike_adjoint_shape(twin, ntaps, r.rows) or pop_sources_of_outputs(nsources,
// r.cols) refuses, an id is refused (first_bad_source_id), or g is not
// exactly c x N*K. Spike times of any value are safe. g's data must not
// overlap any input.
void spike_filter_pop_adjoint(const double *spinds, const double *ids,
                              int32_t b, DoubleMatrix r, const double *twin,
                              double ntaps, double nsources, int32_t base,
                              DoubleMatrix g);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_SPIKE_FILTER_POP_ADJOINT_H
