// Fuzz cases of the population adjoint: decodes a window, a tap count
// (mode bit 0x20: any value), a source count, spike times and their ids
// (pop_fuzz_decode.h), then r column by column (the window's rows, or with
// mode bit 0x04 one row more), runs spike_filter_pop_adjoint into a
// zero-filled output of the rules' size and compares it bit for bit with
// reference_pop_sum_adjoint. Refused arguments and outputs of the wrong shape
// must leave the output untouched.
#ifndef FUZZ_CASES_SPIKE_FILTER_POP_ADJOINT_H
#define FUZZ_CASES_SPIKE_FILTER_POP_ADJOINT_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "pop_fuzz_decode.h"
#include "reference_kernels.h"
#include "spike_filter/spike_filter_pop_adjoint.h"

namespace {

using namespace spike_bins;

const double kFill = -1.2345678901234567e-300;

void check_writes_nothing(const PopFuzzInput &c, DoubleMatrix r, double ntaps,
                          int32_t rows, int32_t cols) {
  std::vector<double> g(static_cast<size_t>(rows) * cols, kFill);
  spike_filter_pop_adjoint(c.spikes.data(), c.ids.data(),
                           static_cast<int32_t>(c.spikes.size()), r,
                           c.twin.data(), ntaps, c.nsources, c.base,
                           DoubleMatrix{rows, cols, g.data()});
  check_unwritten(g.data(), static_cast<int64_t>(g.size()), kFill,
                  "spike_filter_pop_adjoint into an output it must not fill");
}

// Decodes one case from in and checks it.
void fuzz_one(FuzzBytes *in) {
  const PopFuzzInput c = take_pop_input(in);
  const double ntaps = (c.mode & 0x20) ? take_value(in) : c.taps;
  const SpikeWindow window = spike_window(c.twin.data());
  int64_t rows =
      window.status == SpikeWindowStatus::ok ? window.rows : c.mode % 8;
  if (c.mode & 0x04) ++rows;
  if (rows * c.outputs > kMaxFuzzOutput) return;
  std::vector<double> values(static_cast<size_t>(rows * c.outputs));
  for (double &v : values) {
    v = take_value(in);
  }
  const DoubleMatrix r{static_cast<int32_t>(rows), c.outputs, values.data()};
  const int32_t b = static_cast<int32_t>(c.spikes.size());

  const SpikeAdjointShape shape =
      spike_adjoint_shape(c.twin.data(), ntaps, r.rows);
  const PopSources pop = pop_sources_of_outputs(c.nsources, c.outputs);
  int32_t taps = 0;
  const bool taps_ok = reference_tap_count(ntaps, &taps);
  if ((pop.status == PopSourcesStatus::ok) != (c.sources > 0)) {
    fuzz_fail("source rule for nsources %s: status %d",
              describe_double(c.nsources).c_str(),
              static_cast<int>(pop.status));
  }
  if (shape.status != SpikeAdjointShapeStatus::ok ||
      pop.status != PopSourcesStatus::ok || !c.ids_ok) {
    const int32_t g_rows = taps_ok && taps < 64 ? taps : c.mode % 8;
    const int64_t g_cols =
        pop.status == PopSourcesStatus::ok ? pop.filters : c.outputs;
    if (g_rows * g_cols <= kMaxFuzzOutput) {
      check_writes_nothing(c, r, ntaps, g_rows, static_cast<int32_t>(g_cols));
    }
    return;
  }
  const int64_t count = int64_t{shape.taps} * pop.filters;
  if (count <= kMaxFuzzOutput) {
    std::vector<double> g(static_cast<size_t>(count), 0.0);
    std::vector<double> expected(static_cast<size_t>(count), 0.0);
    spike_filter_pop_adjoint(c.spikes.data(), c.ids.data(), b, r, c.twin.data(),
                             ntaps, c.nsources, c.base,
                             DoubleMatrix{shape.taps, pop.filters, g.data()});
    reference_pop_sum_adjoint(c.spikes.data(), c.ids.data(), b, values.data(),
                              shape.taps, c.sources, c.outputs, c.base,
                              c.twin[0], c.twin[1], expected.data());
    check_same_bits(expected.data(), g.data(), count,
                    "spike_filter_pop_adjoint");
    if (c.mode & 0x80) {
      const int32_t wrong_cols = pop.filters + ((c.mode & 2) ? 1 : -1);
      if (wrong_cols >= 0 &&
          int64_t{shape.taps} * wrong_cols <= kMaxFuzzOutput) {
        check_writes_nothing(c, r, ntaps, shape.taps, wrong_cols);
      }
    }
  }
}

}  // namespace

#endif  // FUZZ_CASES_SPIKE_FILTER_POP_ADJOINT_H
