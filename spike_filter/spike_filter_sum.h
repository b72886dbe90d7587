// Windowed sum of filters placed at spike times.
//
// A spike at time s lies in bin B = s truncated toward zero; filter k adds its
// tap q to bin B + q. The output covers only the bins T0 .. T1 of the window
// (twin[0] and twin[1] truncated toward zero), one row per bin, one column per
// filter. Spikes are expected in ascending order: the leading spikes below
// L = T0 - c + 1 are skipped and the scan ends at the first spike at or past
// U = T1 + 1 (or at a NaN). Taps are added in list order, each addition one
// IEEE double operation, so results are bit-exact and order-dependent.
#ifndef SPIKE_FILTER_SPIKE_FILTER_SUM_H
#define SPIKE_FILTER_SPIKE_FILTER_SUM_H

#include <cstdint>

#include "common/double_matrix.h"

namespace spike_bins {

// The window's bins and the output row count: the one size rule shared by the
// kernel and the host gateway.
enum class SpikeWindowStatus {
  ok,             // T1 = T0 - 1 is ok, with no rows
  bad_end,        // an end NaN, +-Inf or not truncating to a 32-bit int
  negative_rows,  // T1 < T0 - 1
  too_many_rows,  // T1 - T0 + 1 beyond 2^31 - 1
};

struct SpikeWindow {
  SpikeWindowStatus status;  // no output can be made unless ok
  int32_t first_bin;         // T0
  int32_t last_bin;          // T1
  int32_t rows;              // T1 - T0 + 1
};

// Reads twin[0] and twin[1].
SpikeWindow spike_window(const double *twin);

// Adds the taps of h_currents (c taps x K filters) placed at the b spike times
// of spinds into y (window rows x K), which must hold zeros on entry. Reads
// twin[0] and twin[1]. Writes nothing when the window is invalid or y is not
// exactly rows x K; b <= 0 means no spikes. Spike times of any value (NaN,
// +-Inf, far outside the 32-bit range) are safe. y's data must not overlap
// h_currents, spinds or twin (the host's result is always a new array).
void spike_filter_sum(const double *spinds, int32_t b, DoubleMatrix h_currents,
                      const double *twin, DoubleMatrix y);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_SPIKE_FILTER_SUM_H
