#include "spike_filter/spike_filter_multi.h"

#include <cstdint>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"
#include "spike_filter/spike_scan.h"

namespace spike_bins {

// The same arithmetic as the population sums' rules, with the quotient (or
// the factor) being the tap count instead of the output columns.
MultiSources multi_sources_of_filters(double nsources, int32_t filter_cols) {
  const PopSources pop = pop_sources_of_filters(nsources, filter_cols);
  return {pop.status, pop.sources, pop.outputs, pop.filters};
}

MultiSources multi_sources_of_taps(double nsources, int32_t taps) {
  const PopSources pop = pop_sources_of_outputs(nsources, taps);
  return {pop.status, pop.sources, pop.outputs, pop.filters};
}

namespace {

// The scan for checked arguments with at least one target, bin, spike and
// tap: per spike, one run over the K values of each bin it reaches.
KERNEL_INLINE void sum_targets(const double *spinds, const double *ids,
                               int32_t b, DoubleMatrix h_currents,
                               SpikeWindow window, MultiSources multi,
                               int32_t base, DoubleMatrix y) {
  const int64_t targets = h_currents.rows;
  scan_indexed_spikes(
      spinds, b, multi.taps, window,
      [&](int32_t j, int64_t tap, int64_t row, int64_t count) {
        const int64_t source = truncate_to_int32(ids[j]) - int64_t{base};
        add_span(h_currents.data +
                     element_offset(h_currents, 0, source * multi.taps + tap),
                 y.data + element_offset(y, 0, row), targets * count);
      });
}

}  // namespace

void spike_filter_multi(const double *spinds, const double *ids, int32_t b,
                        DoubleMatrix h_currents, const double *twin,
                        double nsources, int32_t base, DoubleMatrix y) {
  const SpikeWindow window = spike_window(twin);
  const MultiSources multi =
      multi_sources_of_filters(nsources, h_currents.cols);
  if (window.status != SpikeWindowStatus::ok ||
      multi.status != PopSourcesStatus::ok || y.rows != h_currents.rows ||
      y.cols != window.rows ||
      first_bad_source_id(ids, b, multi.sources, base) < b) {
    return;
  }
  if (b <= 0 || window.rows == 0 || h_currents.rows <= 0 || multi.taps <= 0) {
    return;  // nothing can land in the window
  }
  call_fastest<sum_targets>(spinds, ids, b, h_currents, window, multi, base, y);
}

}  // namespace spike_bins
