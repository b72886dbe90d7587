// Windowed sums of the filters of a population of source neurons placed at
// their spike times.
//
// Spike j comes from source ids[j] - base (base 1 for MATLAB/Octave, 0 for
// Python), one of N sources. h_currents holds c taps by N*K filters: column
// k*N + n (0-based) is the filter of source n for output column k. The result
// covers the window's bins T0 .. T1 (one row each) by K columns.
//
// The spikes taken are trainfold_mex's, with one tap count c for all sources
// (skip below L = T0 - c + 1, stop at U = T1 + 1 or a NaN; see
// spike_filter/spike_scan.h). For each taken spike in list order, with B its
// bin, a = max(B, T0) and z = min(B + c - 1, T1), when a <= z: for each output
// column k in turn and each bin t = a .. z ascending,
// y(t - T0, k) = h(t - B, k*N + n) + y(t - T0, k), one IEEE double addition
// each. With N = 1 this is exactly spike_filter_sum's order.
#ifndef SPIKE_FILTER_SPIKE_FILTER_POP_H
#define SPIKE_FILTER_SPIKE_FILTER_POP_H

#include <cstdint>

#include "common/double_matrix.h"
#include "spike_filter/spike_filter_sum.h"

namespace spike_bins {

// nsources and the output columns: the size rules shared by the kernels and
// the host gateways.
enum class PopSourcesStatus {
  ok,
  bad_count,             // nsources not a whole number from 1 to 2^31 - 1
  columns_not_multiple,  // the filters' columns not a multiple of N
  too_many_columns,      // N * K beyond 2^31 - 1 (the adjoint's result)
};

struct PopSources {
  PopSourcesStatus status;  // no output can be made unless ok
  int32_t sources;          // N (when nsources is valid)
  int32_t outputs;          // K
  int32_t filters;          // N * K
};

// The forward's rule: h_currents has filter_cols = N * K columns.
PopSources pop_sources_of_filters(double nsources, int32_t filter_cols);

// The adjoint's rule: r has output_cols = K columns, the result N * K.
PopSources pop_sources_of_outputs(double nsources, int32_t output_cols);

// The index of the first of the b ids that is not a whole number from base to
// base + sources - 1 (NaN and +-Inf included); b when all are. b <= 0: none.
int32_t first_bad_source_id(const double *ids, int32_t b, int32_t sources,
                            int32_t base);

// Adds the taps into y (window rows x K) as above; y holds its starting
// values on entry (zeros for the hosts' results). Reads twin[0] and twin[1].
// Writes nothing when the window, nsources, h_currents' columns or an id is
// refused by the rules above, or y is not exactly rows x K. Spike times of any
// value are safe. y's data must not overlap any input.
void spike_filter_pop(const double *spinds, const double *ids, int32_t b,
                      DoubleMatrix h_currents, const double *twin,
                      double nsources, int32_t base, DoubleMatrix y);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_SPIKE_FILTER_POP_H
