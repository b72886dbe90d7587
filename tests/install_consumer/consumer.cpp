// Calls both installed kernels, by their qualified names, on small worked
// examples whose results are exact in binary, and compares every element; exits
// 1 on any difference. Compiled with the user flags -ffast-math
// -ffp-contract=fast, which the kernels' usage requirements must override (else
// the guard stops the build).
#include <cstdint>
#include <cstdio>

#include "common/arg_check.h"
#include "common/exact_math_guard.h"
#include "spike_filter/spike_filter_sum.h"
#include "upsampler/upsample_bins.h"

// Names a consumer may take for its own: the installed headers declare
// nothing outside namespace spike_bins.
using DoubleMatrix = int;
using Refusal = int;
extern int element_count;
extern int upsample_bins;

namespace {

int count_differences(const char *name, const double *got,
                      const double *expected, int count) {
  int differences = 0;
  for (int i = 0; i < count; ++i) {
    if (got[i] != expected[i]) {
      std::printf("%s: element %d is %.17g, expected %.17g\n", name, i, got[i],
                  expected[i]);
      ++differences;
    }
  }
  return differences;
}

}  // namespace

int main() {
  // nbns = 4, one column (a, b) = (4, 8): (0.75a, a, 0.75a + 0.25b,
  // 0.5a + 0.5b, 0.25a + 0.75b, b, 0.75b, 0.5b).
  double x_data[] = {4.0, 8.0};
  const spike_bins::DoubleMatrix x{2, 1, x_data};
  const spike_bins::UpsampleShape shape =
      spike_bins::upsample_output_shape(x.rows, 4.0);
  double y_data[8] = {};
  const double y_expected[8] = {3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 6.0, 4.0};
  int differences = 0;
  if (shape.status != spike_bins::UpsampleShapeStatus::ok ||
      shape.output_rows != 8) {
    std::printf("upsample_output_shape: wrong shape\n");
    ++differences;
  } else {
    spike_bins::upsample_bins(x, 4.0, spike_bins::DoubleMatrix{8, 1, y_data});
    differences += count_differences("upsample_bins", y_data, y_expected, 8);
  }

  // Spikes at 1 and 2, one filter with taps (1, 10), window bins 1 .. 4.
  const double spinds[] = {1.0, 2.0};
  double taps[] = {1.0, 10.0};
  const double twin[] = {1.0, 4.0};
  const spike_bins::SpikeWindow window = spike_bins::spike_window(twin);
  double sums[4] = {};
  const double sums_expected[4] = {1.0, 11.0, 10.0, 0.0};
  if (window.status != spike_bins::SpikeWindowStatus::ok || window.rows != 4) {
    std::printf("spike_window: wrong window\n");
    ++differences;
  } else {
    spike_bins::spike_filter_sum(spinds, 2,
                                 spike_bins::DoubleMatrix{2, 1, taps}, twin,
                                 spike_bins::DoubleMatrix{4, 1, sums});
    differences +=
        count_differences("spike_filter_sum", sums, sums_expected, 4);
  }
  if (differences == 0) {
    std::printf("consumer: both kernels give the expected results\n");
  }
  return differences == 0 ? 0 : 1;
}
