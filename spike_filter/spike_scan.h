// The spikes a window takes, shared by the spike-train filter sum and its
// adjoint so that both take exactly the same spikes and bins.
//
// With c taps and the window T0 .. T1: the leading spikes below
// L = T0 - c + 1 are skipped, then spikes are taken in list order until the
// first at or past U = T1 + 1, or a NaN. A taken spike at time s lies in bin
// B = s truncated toward zero and reaches the bins a = max(B, T0) ..
// z = min(B + c - 1, T1); when a <= z the caller is handed that span.
#ifndef SPIKE_FILTER_SPIKE_SCAN_H
#define SPIKE_FILTER_SPIKE_SCAN_H

#include <algorithm>
#include <cstdint>

#include "common/avx2_dispatch.h"
#include "spike_filter/spike_filter_sum.h"

namespace spike_bins {

// to[i] = from[i] + to[i] for i < count, in blocks of kVectorBlock. The two
// never overlap (the kernels' contract); restrict lets the compiler rely on
// that.
KERNEL_INLINE void add_span(const double *__restrict from,
                            double *__restrict to, int64_t count) {
  int64_t i = 0;
  for (; i + kVectorBlock <= count; i += kVectorBlock) {
    for (int64_t lane = 0; lane < kVectorBlock; ++lane) {
      to[i + lane] = from[i + lane] + to[i + lane];
    }
  }
  for (; i < count; ++i) {
    to[i] = from[i] + to[i];
  }
}

// Calls take(j, tap, row, count) for each taken spike j (its index in
// spinds) in list order that reaches the window: tap = a - B (the first tap
// that lands), row = a - T0 (its row), count = z - a + 1. Any spike time is
// safe (NaN, +-Inf, far outside the integer ranges). Requires a checked
// window and taps >= 0.
template <typename Take>
KERNEL_INLINE void scan_indexed_spikes(const double *spinds, int32_t b,
                                       int64_t taps, SpikeWindow window,
                                       Take take) {
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
    take(j, first - bin, first - first_bin, last - first + 1);
  }
}

// As scan_indexed_spikes, calling take(tap, row, count).
template <typename Take>
KERNEL_INLINE void scan_spikes(const double *spinds, int32_t b, int64_t taps,
                               SpikeWindow window, Take take) {
  scan_indexed_spikes(spinds, b, taps, window,
                      [&](int32_t /*j*/, int64_t tap, int64_t row,
                          int64_t count) { take(tap, row, count); });
}

}  // namespace spike_bins

#endif  // SPIKE_FILTER_SPIKE_SCAN_H
