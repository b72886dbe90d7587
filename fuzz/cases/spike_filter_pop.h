// Fuzz cases of the population filter sum: decodes a window, a source
// count, filters, spike times and their source ids (pop_fuzz_decode.h),
// checks the source-count and id rules against the reference, runs
// spike_filter_pop into a zero-filled output of the rules' size and compares
// it bit for bit with reference_pop_sum. A refused window, source count,
// column count or id, and an output of the wrong shape, must leave the output
// untouched.
//
// Input layout: pop_fuzz_decode.h's, then the filters (taps x N*K, or
// taps x K+1 with mode bit 0x40: a column count that need not be a multiple
// of N).
#ifndef FUZZ_CASES_SPIKE_FILTER_POP_H
#define FUZZ_CASES_SPIKE_FILTER_POP_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "pop_fuzz_decode.h"
#include "reference_kernels.h"
#include "spike_filter/spike_filter_pop.h"

namespace {

using namespace spike_bins;

const double kFill = -1.2345678901234567e-300;

void check_writes_nothing(const PopFuzzInput &c, DoubleMatrix h, int32_t rows,
                          int32_t cols) {
  std::vector<double> y(static_cast<size_t>(rows) * cols, kFill);
  spike_filter_pop(c.spikes.data(), c.ids.data(),
                   static_cast<int32_t>(c.spikes.size()), h, c.twin.data(),
                   c.nsources, c.base, DoubleMatrix{rows, cols, y.data()});
  check_unwritten(y.data(), static_cast<int64_t>(y.size()), kFill,
                  "spike_filter_pop into an output it must not fill");
}

// Decodes one case from in and checks it.
void fuzz_one(FuzzBytes *in) {
  const PopFuzzInput c = take_pop_input(in);
  const int32_t n = c.sources > 0 && c.sources <= 64 ? c.sources : 1;
  const int32_t filter_cols = (c.mode & 0x40) ? c.outputs + 1 : n * c.outputs;
  if (int64_t{c.taps} * filter_cols > kMaxFuzzOutput) return;
  std::vector<double> h(static_cast<size_t>(c.taps) * filter_cols);
  for (double &tap : h) {
    tap = take_value(in);
  }
  const DoubleMatrix filters{c.taps, filter_cols, h.data()};

  const PopSources pop = pop_sources_of_filters(c.nsources, filter_cols);
  const bool pop_expected = c.sources > 0 && filter_cols % c.sources == 0;
  if ((pop.status == PopSourcesStatus::ok) != pop_expected ||
      (pop_expected &&
       (pop.sources != c.sources || pop.outputs != filter_cols / c.sources))) {
    fuzz_fail("source rule for nsources %s, %d columns: status %d",
              describe_double(c.nsources).c_str(), filter_cols,
              static_cast<int>(pop.status));
  }
  const int32_t b = static_cast<int32_t>(c.spikes.size());
  if (c.sources > 0 && (first_bad_source_id(c.ids.data(), b, c.sources,
                                            c.base) == b) != c.ids_ok) {
    fuzz_fail("id rule disagrees with the reference");
  }
  const SpikeWindow window = spike_window(c.twin.data());
  if (window.status != SpikeWindowStatus::ok || !pop_expected || !c.ids_ok) {
    const int32_t rows =
        window.status == SpikeWindowStatus::ok && window.rows < 64 ? window.rows
                                                                   : c.mode % 8;
    check_writes_nothing(c, filters, rows, pop_expected ? pop.outputs : 1);
    return;
  }
  const int64_t count = int64_t{window.rows} * pop.outputs;
  if (count <= kMaxFuzzOutput) {
    std::vector<double> y(static_cast<size_t>(count), 0.0);
    std::vector<double> expected(static_cast<size_t>(count), 0.0);
    spike_filter_pop(c.spikes.data(), c.ids.data(), b, filters, c.twin.data(),
                     c.nsources, c.base,
                     DoubleMatrix{window.rows, pop.outputs, y.data()});
    reference_pop_sum(c.spikes.data(), c.ids.data(), b, h.data(), c.taps,
                      c.sources, pop.outputs, c.base, c.twin[0], c.twin[1],
                      expected.data());
    check_same_bits(expected.data(), y.data(), count, "spike_filter_pop");
  }
  if ((c.mode & 0x80) && window.rows < 64) {
    const int32_t wrong_rows = window.rows + ((c.mode & 2) ? 1 : -1);
    if (wrong_rows >= 0)
      check_writes_nothing(c, filters, wrong_rows, pop.outputs);
    check_writes_nothing(c, filters, window.rows, pop.outputs + 1);
  }
}

}  // namespace

#endif  // FUZZ_CASES_SPIKE_FILTER_POP_H
