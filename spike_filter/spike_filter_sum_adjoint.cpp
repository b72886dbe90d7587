#include "spike_filter/spike_filter_sum_adjoint.h"

#include <cstdint>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"
#include "spike_filter/spike_scan.h"

namespace spike_bins {

SpikeAdjointShape spike_adjoint_shape(const double *twin, double ntaps,
                                      int32_t input_rows) {
  const SpikeWindow window = spike_window(twin);
  if (window.status != SpikeWindowStatus::ok) {
    return {SpikeAdjointShapeStatus::bad_window, window, 0};
  }
  if (!(ntaps >= 0.0) || !truncates_to_int32(ntaps) ||
      static_cast<double>(truncate_to_int32(ntaps)) != ntaps) {
    return {SpikeAdjointShapeStatus::bad_tap_count, window, 0};
  }
  const int32_t taps = truncate_to_int32(ntaps);
  if (input_rows != window.rows) {
    return {SpikeAdjointShapeStatus::wrong_input_rows, window, taps};
  }
  return {SpikeAdjointShapeStatus::ok, window, taps};
}

namespace {

// The scan for a checked shape with at least one row, one spike, one tap and
// one column. Each element of g receives its additions in spike order
// whichever way the columns are interleaved, so the scan runs once per
// column: r is then read one column at a time, in the order of the spikes.
KERNEL_INLINE void sum_spikes_adjoint(const double *spinds, int32_t b,
                                      DoubleMatrix r, SpikeWindow window,
                                      DoubleMatrix g) {
  for (int32_t column = 0; column < r.cols; ++column) {
    const double *in = column_data(r, column);
    double *out = column_data(g, column);
    scan_spikes(spinds, b, g.rows, window,
                [&](int64_t tap, int64_t row, int64_t count) {
                  add_span(in + row, out + tap, count);
                });
  }
}

}  // namespace

void spike_filter_sum_adjoint(const double *spinds, int32_t b, DoubleMatrix r,
                              const double *twin, double ntaps,
                              DoubleMatrix g) {
  const SpikeAdjointShape shape = spike_adjoint_shape(twin, ntaps, r.rows);
  if (shape.status != SpikeAdjointShapeStatus::ok || g.rows != shape.taps ||
      g.cols != r.cols) {
    return;
  }
  if (b <= 0 || r.rows == 0 || g.rows == 0 || g.cols == 0) {
    return;  // nothing reaches g
  }
  call_fastest<sum_spikes_adjoint>(spinds, b, r, shape.window, g);
}

}  // namespace spike_bins
