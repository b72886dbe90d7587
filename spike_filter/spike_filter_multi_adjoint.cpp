#include "spike_filter/spike_filter_multi_adjoint.h"

#include <cstdint>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"
#include "spike_filter/spike_scan.h"

namespace spike_bins {

namespace {

// The scan for checked arguments with at least one target, bin, spike and
// tap: per spike, one run over the K values of each bin it reaches.
KERNEL_INLINE void sum_targets_adjoint(const double *spinds, const double *ids,
                                       int32_t b, DoubleMatrix r,
                                       SpikeWindow window, MultiSources multi,
                                       int32_t base, DoubleMatrix g) {
  const int64_t targets = r.rows;
  scan_indexed_spikes(
      spinds, b, multi.taps, window,
      [&](int32_t j, int64_t tap, int64_t row, int64_t count) {
        const int64_t source = truncate_to_int32(ids[j]) - int64_t{base};
        add_span(r.data + element_offset(r, 0, row),
                 g.data + element_offset(g, 0, source * multi.taps + tap),
                 targets * count);
      });
}

}  // namespace

void spike_filter_multi_adjoint(const double *spinds, const double *ids,
                                int32_t b, DoubleMatrix r, const double *twin,
                                double ntaps, double nsources, int32_t base,
                                DoubleMatrix g) {
  const SpikeAdjointShape shape = spike_adjoint_shape(twin, ntaps, r.cols);
  if (shape.status != SpikeAdjointShapeStatus::ok) return;
  const MultiSources multi = multi_sources_of_taps(nsources, shape.taps);
  if (multi.status != PopSourcesStatus::ok || g.rows != r.rows ||
      g.cols != multi.columns ||
      first_bad_source_id(ids, b, multi.sources, base) < b) {
    return;
  }
  if (b <= 0 || r.rows <= 0 || r.cols == 0 || multi.taps <= 0) {
    return;  // nothing reaches g
  }
  call_fastest<sum_targets_adjoint>(spinds, ids, b, r, shape.window, multi,
                                    base, g);
}

}  // namespace spike_bins
