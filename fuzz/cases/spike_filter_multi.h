// Fuzz cases of the targets-major population sum: decodes a window, a source
// count, the targets (pop_fuzz_decode.h's output count), spike times and
// their source ids, then the filters (targets x taps*N, or with mode bit
// 0x40 one column more: a column count that need not be a multiple of N).
// Checks the size rule against the reference's, runs spike_filter_multi into
// a zero-filled output of the rule's size and compares it bit for bit with
// reference_multi_sum. A refused window, source count, column count or id,
// and an output of the wrong shape, must leave the output untouched.
#ifndef FUZZ_CASES_SPIKE_FILTER_MULTI_H
#define FUZZ_CASES_SPIKE_FILTER_MULTI_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "pop_fuzz_decode.h"
#include "reference_kernels.h"
#include "spike_filter/spike_filter_multi.h"

namespace {

using namespace spike_bins;

const double kFill = -1.2345678901234567e-300;

void check_writes_nothing(const PopFuzzInput &c, DoubleMatrix h, int32_t rows,
                          int32_t cols) {
  std::vector<double> y(static_cast<size_t>(rows) * cols, kFill);
  spike_filter_multi(c.spikes.data(), c.ids.data(),
                     static_cast<int32_t>(c.spikes.size()), h, c.twin.data(),
                     c.nsources, c.base, DoubleMatrix{rows, cols, y.data()});
  check_unwritten(y.data(), static_cast<int64_t>(y.size()), kFill,
                  "spike_filter_multi into an output it must not fill");
}

// Decodes one case from in and checks it.
void fuzz_one(FuzzBytes *in) {
  const PopFuzzInput c = take_pop_input(in);
  const int32_t targets = c.outputs;
  const int32_t n = c.sources > 0 && c.sources <= 64 ? c.sources : 1;
  const int32_t filter_cols = c.taps * n + ((c.mode & 0x40) ? 1 : 0);
  if (int64_t{targets} * filter_cols > kMaxFuzzOutput) return;
  std::vector<double> h(static_cast<size_t>(targets) * filter_cols);
  for (double &tap : h) {
    tap = take_value(in);
  }
  const DoubleMatrix filters{targets, filter_cols, h.data()};

  const MultiSources multi = multi_sources_of_filters(c.nsources, filter_cols);
  const bool multi_expected = c.sources > 0 && filter_cols % c.sources == 0;
  if ((multi.status == PopSourcesStatus::ok) != multi_expected ||
      (multi_expected &&
       (multi.sources != c.sources || multi.taps != filter_cols / c.sources ||
        multi.columns != filter_cols))) {
    fuzz_fail("source rule for nsources %s, %d columns: status %d",
              describe_double(c.nsources).c_str(), filter_cols,
              static_cast<int>(multi.status));
  }
  const int32_t b = static_cast<int32_t>(c.spikes.size());
  const SpikeWindow window = spike_window(c.twin.data());
  const int32_t bins =
      window.status == SpikeWindowStatus::ok && window.rows < 64 ? window.rows
                                                                 : c.mode % 8;
  if (window.status != SpikeWindowStatus::ok || !multi_expected || !c.ids_ok) {
    check_writes_nothing(c, filters, targets, bins);
    return;
  }
  const int64_t count = int64_t{targets} * window.rows;
  if (count <= kMaxFuzzOutput) {
    std::vector<double> y(static_cast<size_t>(count), 0.0);
    std::vector<double> expected(static_cast<size_t>(count), 0.0);
    spike_filter_multi(c.spikes.data(), c.ids.data(), b, filters, c.twin.data(),
                       c.nsources, c.base,
                       DoubleMatrix{targets, window.rows, y.data()});
    reference_multi_sum(c.spikes.data(), c.ids.data(), b, h.data(), targets,
                        multi.taps, c.sources, c.base, c.twin[0], c.twin[1],
                        expected.data());
    check_same_bits(expected.data(), y.data(), count, "spike_filter_multi");
  }
  if ((c.mode & 0x80) && window.rows < 64) {
    const int32_t wrong_bins = window.rows + ((c.mode & 2) ? 1 : -1);
    if (wrong_bins >= 0) check_writes_nothing(c, filters, targets, wrong_bins);
    check_writes_nothing(c, filters, targets + 1, window.rows);
  }
}

}  // namespace

#endif  // FUZZ_CASES_SPIKE_FILTER_MULTI_H
