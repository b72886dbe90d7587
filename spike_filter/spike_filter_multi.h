// Windowed sums of a population's filters onto many targets at once, with
// the targets along the first dimension (targets-major).
//
// Spike j comes from source ids[j] - base (base 1 for MATLAB/Octave, 0 for
// Python), one of N sources. h_currents is K x (c*N): element
// (k, n*c + q) is tap q of source n's filter onto target k. The result y is
// K x R, R the window's bins T0 .. T1: one row per target, one column per
// bin, so the K values of one bin are contiguous.
//
// The spikes taken are trainfold_pop's with c taps (skip below
// L = T0 - c + 1, stop at U = T1 + 1 or a NaN; see spike_filter/spike_scan.h).
// For each taken spike in list order, from source n, with B its bin,
// a = max(B, T0) and z = min(B + c - 1, T1), when a <= z: for t = a .. z
// ascending and k = 0 .. K-1 ascending,
// y(k, t - T0) = h(k, n*c + t - B) + y(k, t - T0), one IEEE double addition
// each. In memory that is one contiguous run of K*(z - a + 1) additions per
// spike. Every element gets the additions of trainfold_pop's element for
// the same target, in the same order: row k of y is the transpose of
// spike_filter_pop's result for the filters reshape(h(k, :), c, N).
#ifndef SPIKE_FILTER_SPIKE_FILTER_MULTI_H
#define SPIKE_FILTER_SPIKE_FILTER_MULTI_H

#include <cstdint>

#include "common/double_matrix.h"
#include "spike_filter/spike_filter_pop.h"
#include "spike_filter/spike_filter_sum.h"

namespace spike_bins {

// nsources and the taps of a targets-major filter matrix: the size rule
// shared by the kernels and the host checks. The status is
// spike_filter_pop's: bad_count, columns_not_multiple (the forward's
// filters) or too_many_columns (the adjoint's result).
struct MultiSources {
  PopSourcesStatus status;  // no output can be made unless ok
  int32_t sources;          // N (when nsources is valid)
  int32_t taps;             // c
  int32_t columns;          // c * N, the filters' columns
};

// The forward's rule: h_currents has filter_cols = c * N columns.
MultiSources multi_sources_of_filters(double nsources, int32_t filter_cols);

// The adjoint's rule: c taps (a checked tap count), the result c * N columns.
MultiSources multi_sources_of_taps(double nsources, int32_t taps);

// Adds the taps into y (K x window bins) as above; y holds its starting
// values on entry (zeros for the hosts' results). Reads twin[0] and twin[1].
// Writes nothing when the window, nsources, h_currents' columns or an id is
// refused by the rules above (first_bad_source_id), or y is not exactly
// h_currents.rows x the window's bins. Spike times of any value are safe.
// y's data must not overlap any input.
void spike_filter_multi(const double *spinds, const double *ids, int32_t b,
                        DoubleMatrix h_currents, const double *twin,
                        double nsources, int32_t base, DoubleMatrix y);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_SPIKE_FILTER_MULTI_H
