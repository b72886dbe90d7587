#include "spike_filter/spike_filter_pop_adjoint.h"

#include <cstdint>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"
#include "spike_filter/spike_scan.h"

namespace spike_bins {

namespace {

// The scan for checked arguments with at least one row, spike, tap and
// column, once per column of r (read in the order of the spikes).
KERNEL_INLINE void sum_population_adjoint(const double *spinds,
                                          const double *ids, int32_t b,
                                          DoubleMatrix r, SpikeWindow window,
                                          PopSources pop, int32_t base,
                                          DoubleMatrix g) {
  for (int32_t k = 0; k < r.cols; ++k) {
    const double *in = column_data(r, k);
    const int64_t first_filter = int64_t{k} * pop.sources - base;
    scan_indexed_spikes(
        spinds, b, g.rows, window,
        [&](int32_t j, int64_t tap, int64_t row, int64_t count) {
          const int64_t filter = first_filter + truncate_to_int32(ids[j]);
          add_span(in + row, g.data + tap + element_offset(g, 0, filter),
                   count);
        });
  }
}

}  // namespace

void spike_filter_pop_adjoint(const double *spinds, const double *ids,
                              int32_t b, DoubleMatrix r, const double *twin,
                              double ntaps, double nsources, int32_t base,
                              DoubleMatrix g) {
  const SpikeAdjointShape shape = spike_adjoint_shape(twin, ntaps, r.rows);
  const PopSources pop = pop_sources_of_outputs(nsources, r.cols);
  if (shape.status != SpikeAdjointShapeStatus::ok ||
      pop.status != PopSourcesStatus::ok || g.rows != shape.taps ||
      g.cols != pop.filters ||
      first_bad_source_id(ids, b, pop.sources, base) < b) {
    return;
  }
  if (b <= 0 || r.rows == 0 || g.rows == 0 || r.cols == 0) {
    return;  // nothing reaches g
  }
  call_fastest<sum_population_adjoint>(spinds, ids, b, r, shape.window, pop,
                                       base, g);
}

}  // namespace spike_bins
