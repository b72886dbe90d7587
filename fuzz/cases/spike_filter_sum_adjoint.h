// Fuzz cases of the spike-sum adjoint: decodes a window, a tap count, r and
// spike times (unsorted, negative, NaN, +-Inf, huge, on and next to the skip
// and stop thresholds), checks the shape rule against the reference, runs
// spike_filter_sum_adjoint into a zero-filled output of exactly the rule's
// size and compares it bit for bit with reference_spike_sum_adjoint. Invalid
// windows and tap counts, r of the wrong row count and outputs of the wrong
// shape must leave the output untouched.
//
// Input layout: twin[0], twin[1], taps byte, columns byte, spikes byte, mode
// byte, with mode bit 0x40 ntaps as a value (any double), r column by column
// (the window's rows, or with mode bit 0x20 (mode & 3) - 1 rows more), then
// the spike times (see fuzz_decode.h).
#ifndef FUZZ_CASES_SPIKE_FILTER_SUM_ADJOINT_H
#define FUZZ_CASES_SPIKE_FILTER_SUM_ADJOINT_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_decode.h"
#include "reference_kernels.h"
#include "spike_filter/spike_filter_sum_adjoint.h"

namespace {

using namespace spike_bins;

const double kFill = -1.2345678901234567e-300;

// The expected outcome of the shape rule, from the reference's bins and tap
// count.
void check_shape_rule(const double twin[2], double ntaps, int32_t rows,
                      const SpikeAdjointShape &shape) {
  int32_t first = 0;
  int32_t last = 0;
  int64_t window_rows = -1;
  if (reference_window_bin(twin[0], &first) &&
      reference_window_bin(twin[1], &last)) {
    window_rows = reference_window_rows(first, last);
  }
  int32_t taps = 0;
  using S = SpikeAdjointShapeStatus;
  const S expected = window_rows < 0 || window_rows > INT32_MAX ? S::bad_window
                     : !reference_tap_count(ntaps, &taps) ? S::bad_tap_count
                     : rows != window_rows                ? S::wrong_input_rows
                                                          : S::ok;
  if (shape.status != expected || (expected == S::ok && shape.taps != taps)) {
    fuzz_fail(
        "adjoint shape rule for twin (%s, %s), ntaps %s, %d rows: status %d, "
        "%d taps; expected status %d, %d taps",
        describe_double(twin[0]).c_str(), describe_double(twin[1]).c_str(),
        describe_double(ntaps).c_str(), rows, static_cast<int>(shape.status),
        shape.taps, static_cast<int>(expected), taps);
  }
}

void check_writes_nothing(const std::vector<double> &spikes, DoubleMatrix r,
                          const double twin[2], double ntaps, int32_t rows,
                          int32_t cols) {
  std::vector<double> g(static_cast<size_t>(rows) * cols, kFill);
  spike_filter_sum_adjoint(spikes.data(), static_cast<int32_t>(spikes.size()),
                           r, twin, ntaps, DoubleMatrix{rows, cols, g.data()});
  check_unwritten(g.data(), static_cast<int64_t>(g.size()), kFill,
                  "spike_filter_sum_adjoint into an output it must not fill");
}

// Decodes one case from in and checks it.
void fuzz_one(FuzzBytes *in) {
  // Exactly two window ends on the heap: reading a third is an overrun.
  std::vector<double> twin(2);
  twin[0] = take_window_end(in, 0.0, false);
  twin[1] = take_window_end(in, twin[0], true);
  const int32_t taps = take_count(in, 6, 40);
  const int32_t cols = take_count(in, 3, 6);
  const int32_t spike_count = take_count(in, 12, 127);
  const uint8_t mode = take_byte(in);
  const double ntaps = (mode & 0x40) ? take_value(in) : taps;
  const SpikeWindow window = spike_window(twin.data());
  const bool window_ok = window.status == SpikeWindowStatus::ok;
  int64_t rows = window_ok ? window.rows : mode % 8;
  if (mode & 0x20) rows += (mode & 3) - 1;
  if (rows < 0 || rows * cols > kMaxFuzzOutput) {
    return;  // long windows: the window rule is checked by the sum's target
  }
  std::vector<double> values(static_cast<size_t>(rows * cols));
  for (double &v : values) {
    v = take_value(in);
  }
  std::vector<double> spikes(static_cast<size_t>(spike_count));
  for (double &spike : spikes) {
    spike = window_ok
                ? take_spike_time(in, window.first_bin, window.last_bin, taps)
                : take_spike_time(in, 0, 0, taps);
  }
  const DoubleMatrix r{static_cast<int32_t>(rows), cols, values.data()};

  const SpikeAdjointShape shape =
      spike_adjoint_shape(twin.data(), ntaps, r.rows);
  check_shape_rule(twin.data(), ntaps, r.rows, shape);
  if (shape.status != SpikeAdjointShapeStatus::ok) {
    check_writes_nothing(spikes, r, twin.data(), ntaps, taps, cols);
    return;
  }
  const int64_t count = int64_t{shape.taps} * cols;
  if (count <= kMaxFuzzOutput) {
    std::vector<double> g(static_cast<size_t>(count), 0.0);
    std::vector<double> expected(static_cast<size_t>(count), 0.0);
    spike_filter_sum_adjoint(spikes.data(), spike_count, r, twin.data(), ntaps,
                             DoubleMatrix{shape.taps, cols, g.data()});
    reference_spike_sum_adjoint(spikes.data(), spike_count, values.data(),
                                shape.taps, cols, twin[0], twin[1],
                                expected.data());
    check_same_bits(expected.data(), g.data(), count,
                    "spike_filter_sum_adjoint");
  }
  int32_t y_rows = 0;
  int32_t y_cols = 0;
  if (wrong_output_shape(mode, shape.taps, cols, &y_rows, &y_cols)) {
    check_writes_nothing(spikes, r, twin.data(), ntaps, y_rows, y_cols);
  }
}

}  // namespace

#endif  // FUZZ_CASES_SPIKE_FILTER_SUM_ADJOINT_H
