#include "spike_filter/spike_filter_sum.h"

#include <algorithm>
#include <cstdint>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"

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

// out[i] = taps[i] + out[i] for i < count, in blocks of kVectorBlock. The
// output never overlaps the taps (the caller's contract); restrict lets the
// compiler rely on that.
KERNEL_INLINE void add_taps(const double *__restrict taps,
                            double *__restrict out, int64_t count) {
  int64_t i = 0;
  for (; i + kVectorBlock <= count; i += kVectorBlock) {
    for (int64_t lane = 0; lane < kVectorBlock; ++lane) {
      out[i + lane] = taps[i + lane] + out[i + lane];
    }
  }
  for (; i < count; ++i) {
    out[i] = taps[i] + out[i];
  }
}

// The skip and the scan for a checked window with at least one row, one spike,
// one tap and one filter.
KERNEL_INLINE void sum_spikes(const double *spinds, int32_t b,
                              DoubleMatrix h_currents, SpikeWindow window,
                              DoubleMatrix y) {
  const int64_t taps = h_currents.rows;
  const int64_t first_bin = window.first_bin;
  const int64_t last_bin = window.last_bin;
  // Thresholds in 64 bits: T0 - c + 1 and T1 + 1 can leave the int32 range.
  const double lower = static_cast<double>(first_bin - taps + 1);
  const double upper = static_cast<double>(last_bin + 1);
  // Below lower - 1 a spike's bin (truncated toward zero) is below lower too,
  // so its last tap ends before the window; such times may be far outside the
  // range of any integer type and are never converted.
  const double unreachable_below = lower - 1.0;

  int32_t j = 0;
  while (j < b && lower > spinds[j]) {
    ++j;
  }
  for (; j < b; ++j) {
    const double time = spinds[j];
    if (!(upper > time)) {
      break;  // at or past the window, or NaN: the scan ends
    }
    if (time < unreachable_below) {
      continue;  // out of order and far before the window
    }
    const int64_t bin = static_cast<int64_t>(time);
    const int64_t first = std::max(bin, first_bin);
    const int64_t last = std::min(bin + taps - 1, last_bin);
    if (first > last) {
      continue;
    }
    const int64_t count = last - first + 1;
    const double *tap = h_currents.data + (first - bin);
    double *out = y.data + (first - first_bin);
    for (int32_t filter = 0; filter < h_currents.cols; ++filter) {
      const double *filter_taps = tap + element_offset(h_currents, 0, filter);
      double *filter_out = out + element_offset(y, 0, filter);
      add_taps(filter_taps, filter_out, count);
    }
  }
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
