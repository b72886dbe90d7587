#include "spike_filter/spike_filter_pop.h"

#include <algorithm>
#include <cstdint>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"
#include "spike_filter/spike_scan.h"

namespace spike_bins {

namespace {

// nsources as N, or 0 when it is not a whole number from 1 to 2^31 - 1.
int32_t source_count(double nsources) {
  if (!(nsources >= 1.0) || !truncates_to_int32(nsources)) return 0;
  const int32_t sources = truncate_to_int32(nsources);
  return static_cast<double>(sources) == nsources ? sources : 0;
}

}  // namespace

PopSources pop_sources_of_filters(double nsources, int32_t filter_cols) {
  const int32_t sources = source_count(nsources);
  if (sources == 0) return {PopSourcesStatus::bad_count, 0, 0, 0};
  if (filter_cols % sources != 0) {
    return {PopSourcesStatus::columns_not_multiple, sources, 0, 0};
  }
  return {PopSourcesStatus::ok, sources, filter_cols / sources, filter_cols};
}

PopSources pop_sources_of_outputs(double nsources, int32_t output_cols) {
  const int32_t sources = source_count(nsources);
  if (sources == 0) return {PopSourcesStatus::bad_count, 0, 0, 0};
  const int64_t filters = int64_t{sources} * output_cols;
  if (filters > INT32_MAX) {
    return {PopSourcesStatus::too_many_columns, sources, output_cols, 0};
  }
  return {PopSourcesStatus::ok, sources, output_cols,
          static_cast<int32_t>(filters)};
}

int32_t first_bad_source_id(const double *ids, int32_t b, int32_t sources,
                            int32_t base) {
  // Exact in double; capped so that every accepted id truncates to int32.
  const double lowest = static_cast<double>(base);
  const double highest = static_cast<double>(
      std::min<int64_t>(int64_t{base} + sources - 1, INT32_MAX));
  for (int32_t j = 0; j < b; ++j) {
    const double id = ids[j];
    if (!(id >= lowest && id <= highest) ||
        static_cast<double>(truncate_to_int32(id)) != id) {
      return j;
    }
  }
  return b < 0 ? 0 : b;
}

namespace {

// The scan for checked arguments with at least one row, spike, tap and
// output column.
KERNEL_INLINE void sum_population(const double *spinds, const double *ids,
                                  int32_t b, DoubleMatrix h_currents,
                                  SpikeWindow window, PopSources pop,
                                  int32_t base, DoubleMatrix y) {
  scan_indexed_spikes(
      spinds, b, h_currents.rows, window,
      [&](int32_t j, int64_t tap, int64_t row, int64_t count) {
        const int64_t source = truncate_to_int32(ids[j]) - int64_t{base};
        for (int32_t k = 0; k < pop.outputs; ++k) {
          add_span(h_currents.data + tap +
                       element_offset(h_currents, 0,
                                      int64_t{k} * pop.sources + source),
                   y.data + row + element_offset(y, 0, k), count);
        }
      });
}

}  // namespace

void spike_filter_pop(const double *spinds, const double *ids, int32_t b,
                      DoubleMatrix h_currents, const double *twin,
                      double nsources, int32_t base, DoubleMatrix y) {
  const SpikeWindow window = spike_window(twin);
  const PopSources pop = pop_sources_of_filters(nsources, h_currents.cols);
  if (window.status != SpikeWindowStatus::ok ||
      pop.status != PopSourcesStatus::ok || y.rows != window.rows ||
      y.cols != pop.outputs ||
      first_bad_source_id(ids, b, pop.sources, base) < b) {
    return;
  }
  if (b <= 0 || window.rows == 0 || h_currents.rows <= 0 || pop.outputs <= 0) {
    return;  // nothing can land in the window
  }
  call_fastest<sum_population>(spinds, ids, b, h_currents, window, pop, base,
                               y);
}

}  // namespace spike_bins
