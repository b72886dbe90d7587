// Fuzz cases of the targets-major population adjoint: decodes a window, a
// tap count (mode bit 0x20: any value), a source count, the targets
// (pop_fuzz_decode.h's output count), spike times and their ids, then r
// (targets x the window's bins, or with mode bit 0x04 one bin more), runs
// spike_filter_multi_adjoint into a zero-filled output of the rules' size and
// compares it bit for bit with reference_multi_sum_adjoint. Refused
// arguments and outputs of the wrong shape must leave the output untouched.
#ifndef FUZZ_CASES_SPIKE_FILTER_MULTI_ADJOINT_H
#define FUZZ_CASES_SPIKE_FILTER_MULTI_ADJOINT_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "pop_fuzz_decode.h"
#include "reference_kernels.h"
#include "spike_filter/spike_filter_multi_adjoint.h"

namespace {

using namespace spike_bins;

const double kFill = -1.2345678901234567e-300;

void check_writes_nothing(const PopFuzzInput &c, DoubleMatrix r, double ntaps,
                          int32_t rows, int32_t cols) {
  std::vector<double> g(static_cast<size_t>(rows) * cols, kFill);
  spike_filter_multi_adjoint(c.spikes.data(), c.ids.data(),
                             static_cast<int32_t>(c.spikes.size()), r,
                             c.twin.data(), ntaps, c.nsources, c.base,
                             DoubleMatrix{rows, cols, g.data()});
  check_unwritten(g.data(), static_cast<int64_t>(g.size()), kFill,
                  "spike_filter_multi_adjoint into an output it must not fill");
}

// Decodes one case from in and checks it.
void fuzz_one(FuzzBytes *in) {
  const PopFuzzInput c = take_pop_input(in);
  const double ntaps = (c.mode & 0x20) ? take_value(in) : c.taps;
  const int32_t targets = c.outputs;
  const SpikeWindow window = spike_window(c.twin.data());
  int64_t bins =
      window.status == SpikeWindowStatus::ok ? window.rows : c.mode % 8;
  if (c.mode & 0x04) ++bins;
  if (bins * targets > kMaxFuzzOutput) return;
  std::vector<double> values(static_cast<size_t>(bins * targets));
  for (double &v : values) {
    v = take_value(in);
  }
  const DoubleMatrix r{targets, static_cast<int32_t>(bins), values.data()};
  const int32_t b = static_cast<int32_t>(c.spikes.size());

  const SpikeAdjointShape shape =
      spike_adjoint_shape(c.twin.data(), ntaps, r.cols);
  int32_t taps = 0;
  const bool taps_ok = reference_tap_count(ntaps, &taps);
  const MultiSources multi = multi_sources_of_taps(c.nsources, taps);
  // A valid nsources is refused only when c * N leaves the int32 range.
  const PopSourcesStatus expected_multi =
      c.sources == 0 ? PopSourcesStatus::bad_count
      : int64_t{c.sources} * taps > INT32_MAX
          ? PopSourcesStatus::too_many_columns
          : PopSourcesStatus::ok;
  if (multi.status != expected_multi ||
      (expected_multi == PopSourcesStatus::ok &&
       multi.columns != c.sources * taps)) {
    fuzz_fail("source rule for nsources %s, %d taps: status %d",
              describe_double(c.nsources).c_str(), taps,
              static_cast<int>(multi.status));
  }
  if (shape.status != SpikeAdjointShapeStatus::ok || !taps_ok ||
      multi.status != PopSourcesStatus::ok || !c.ids_ok) {
    const int64_t g_cols =
        multi.status == PopSourcesStatus::ok && multi.columns < 256
            ? multi.columns
            : c.mode % 8;
    if (targets * g_cols <= kMaxFuzzOutput) {
      check_writes_nothing(c, r, ntaps, targets, static_cast<int32_t>(g_cols));
    }
    return;
  }
  const int64_t count = int64_t{targets} * multi.columns;
  if (count <= kMaxFuzzOutput) {
    std::vector<double> g(static_cast<size_t>(count), 0.0);
    std::vector<double> expected(static_cast<size_t>(count), 0.0);
    spike_filter_multi_adjoint(c.spikes.data(), c.ids.data(), b, r,
                               c.twin.data(), ntaps, c.nsources, c.base,
                               DoubleMatrix{targets, multi.columns, g.data()});
    reference_multi_sum_adjoint(c.spikes.data(), c.ids.data(), b, values.data(),
                                targets, shape.taps, c.sources, c.base,
                                c.twin[0], c.twin[1], expected.data());
    check_same_bits(expected.data(), g.data(), count,
                    "spike_filter_multi_adjoint");
    if (c.mode & 0x80) {
      // In 64 bits: c * N may be 2^31 - 1.
      const int64_t wrong_cols =
          int64_t{multi.columns} + ((c.mode & 2) ? 1 : -1);
      if (wrong_cols >= 0 && wrong_cols <= INT32_MAX &&
          targets * wrong_cols <= kMaxFuzzOutput) {
        check_writes_nothing(c, r, ntaps, targets,
                             static_cast<int32_t>(wrong_cols));
      }
      if ((targets + 1) * int64_t{multi.columns} <= kMaxFuzzOutput) {
        check_writes_nothing(c, r, ntaps, targets + 1, multi.columns);
      }
    }
  }
}

}  // namespace

#endif  // FUZZ_CASES_SPIKE_FILTER_MULTI_ADJOINT_H
