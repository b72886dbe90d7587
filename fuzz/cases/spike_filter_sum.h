// Fuzz cases of the spike-train filter sum: decodes a window, filters and
// spike times (unsorted, negative, NaN, +-Inf, huge, on and next to the skip
// and stop thresholds), checks the window rule against the reference, runs
// spike_filter_sum into a zero-filled output of exactly the rule's size and
// compares it bit for bit with reference_spike_sum. Outputs of the wrong
// shape, and windows outside the domain, must be left untouched.
//
// Input layout: twin[0], twin[1], taps byte, filters byte, spikes byte, mode
// byte, the taps filter by filter, then the spike times (see fuzz_decode.h).
#ifndef FUZZ_CASES_SPIKE_FILTER_SUM_H
#define FUZZ_CASES_SPIKE_FILTER_SUM_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_decode.h"
#include "reference_kernels.h"
#include "spike_filter/spike_filter_sum.h"

namespace {

using namespace spike_bins;

const double kFill = -1.2345678901234567e-300;

// The expected outcome of the window rule, from the reference's bins.
void check_window_rule(const double twin[2], const SpikeWindow &window) {
  int32_t first = 0;
  int32_t last = 0;
  if (!reference_window_bin(twin[0], &first) ||
      !reference_window_bin(twin[1], &last)) {
    if (window.status != SpikeWindowStatus::bad_end) {
      fuzz_fail("window rule accepts twin (%s, %s)",
                describe_double(twin[0]).c_str(),
                describe_double(twin[1]).c_str());
    }
    return;
  }
  const int64_t rows = reference_window_rows(first, last);
  const SpikeWindowStatus expected = rows < 0 ? SpikeWindowStatus::negative_rows
                                     : rows > INT32_MAX
                                         ? SpikeWindowStatus::too_many_rows
                                         : SpikeWindowStatus::ok;
  if (window.status != expected ||
      (expected == SpikeWindowStatus::ok &&
       (window.first_bin != first || window.last_bin != last ||
        window.rows != rows))) {
    fuzz_fail(
        "window rule for twin (%s, %s): status %d, bins %d .. %d, %d "
        "rows; expected status %d, bins %d .. %d, %lld rows",
        describe_double(twin[0]).c_str(), describe_double(twin[1]).c_str(),
        static_cast<int>(window.status), window.first_bin, window.last_bin,
        window.rows, static_cast<int>(expected), first, last,
        static_cast<long long>(rows));
  }
}

// The kernel given an output it must not touch: y of rows x cols (both >= 0,
// small) left exactly as it was.
void check_writes_nothing(const std::vector<double> &spikes, DoubleMatrix h,
                          const double twin[2], int32_t rows, int32_t cols) {
  std::vector<double> y(static_cast<size_t>(rows) * cols, kFill);
  spike_filter_sum(spikes.data(), static_cast<int32_t>(spikes.size()), h, twin,
                   DoubleMatrix{rows, cols, y.data()});
  check_unwritten(y.data(), static_cast<int64_t>(y.size()), kFill,
                  "spike_filter_sum into an output of the wrong shape");
}

// Decodes one case from in and checks it.
void fuzz_one(FuzzBytes *in) {
  // Exactly two window ends on the heap: reading a third is an overrun.
  std::vector<double> twin(2);
  twin[0] = take_window_end(in, 0.0, false);
  twin[1] = take_window_end(in, twin[0], true);
  const int32_t taps = take_count(in, 6, 40);
  const int32_t filters = take_count(in, 3, 6);
  const int32_t spike_count = take_count(in, 12, 127);
  const uint8_t mode = take_byte(in);
  std::vector<double> h(static_cast<size_t>(taps) * filters);
  for (double &tap : h) {
    tap = take_value(in);
  }
  const SpikeWindow window = spike_window(twin.data());
  check_window_rule(twin.data(), window);
  const bool window_ok = window.status == SpikeWindowStatus::ok;
  std::vector<double> spikes(static_cast<size_t>(spike_count));
  for (double &spike : spikes) {
    spike = window_ok
                ? take_spike_time(in, window.first_bin, window.last_bin, taps)
                : take_spike_time(in, 0, 0, taps);
  }
  const DoubleMatrix filter_matrix{taps, filters, h.data()};

  if (!window_ok) {
    check_writes_nothing(spikes, filter_matrix, twin.data(), mode % 8, filters);
    return;
  }
  const int64_t count = int64_t{window.rows} * filters;
  if (count <= kMaxFuzzOutput) {
    std::vector<double> y(static_cast<size_t>(count), 0.0);
    std::vector<double> expected(static_cast<size_t>(count), 0.0);
    spike_filter_sum(spikes.data(), spike_count, filter_matrix, twin.data(),
                     DoubleMatrix{window.rows, filters, y.data()});
    reference_spike_sum(spikes.data(), spike_count, h.data(), taps, filters,
                        twin[0], twin[1], expected.data());
    check_same_bits(expected.data(), y.data(), count, "spike_filter_sum");
  }
  int32_t y_rows = 0;
  int32_t y_cols = 0;
  if (wrong_output_shape(mode, window.rows, filters, &y_rows, &y_cols)) {
    check_writes_nothing(spikes, filter_matrix, twin.data(), y_rows, y_cols);
  }
}

}  // namespace

#endif  // FUZZ_CASES_SPIKE_FILTER_SUM_H
