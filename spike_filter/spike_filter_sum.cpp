#include "spike_filter/spike_filter_sum.h"

#include <cstdint>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"
#include "spike_filter/spike_scan.h"

namespace spike_bins {

SpikeWindow spike_window(const double *twin) {
  if (!truncates_to_int32(twin[0]) || !truncates_to_int32(twin[1])) {
    return {SpikeWindowStatus::bad_end, 0, 0, 0};
  }
  const int32_t first = truncate_to_int32(twin[0]);
  const int32_t last = truncate_to_int32(twin[1]);
  const int64_t rows = static_cast<int64_t>(last) - first + 1;
  if (rows < 0) {
    return {SpikeWindowStatus::negative_rows, first, last, 0};
  }
  if (rows > INT32_MAX) {
    return {SpikeWindowStatus::too_many_rows, first, last, 0};
  }
  return {SpikeWindowStatus::ok, first, last, static_cast<int32_t>(rows)};
}

namespace {

// The scan for a checked window with at least one row, one spike, one tap and
// one filter: each taken spike adds its landing taps of every filter.
KERNEL_INLINE void sum_spikes(const double *spinds, int32_t b,
                              DoubleMatrix h_currents, SpikeWindow window,
                              DoubleMatrix y) {
  scan_spikes(spinds, b, h_currents.rows, window,
              [&](int64_t tap, int64_t row, int64_t count) {
                for (int32_t filter = 0; filter < h_currents.cols; ++filter) {
                  add_span(h_currents.data + tap +
                               element_offset(h_currents, 0, filter),
                           y.data + row + element_offset(y, 0, filter), count);
                }
              });
}

}  // namespace

void spike_filter_sum(const double *spinds, int32_t b, DoubleMatrix h_currents,
                      const double *twin, DoubleMatrix y) {
  const SpikeWindow window = spike_window(twin);
  if (window.status != SpikeWindowStatus::ok || y.rows != window.rows ||
      y.cols != h_currents.cols) {
    return;
  }
  if (b <= 0 || window.rows == 0 || h_currents.rows <= 0 ||
      h_currents.cols <= 0) {
    return;  // nothing can land in the window
  }
  call_fastest<sum_spikes>(spinds, b, h_currents, window, y);
}

}  // namespace spike_bins
