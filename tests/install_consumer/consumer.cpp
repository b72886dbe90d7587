// Calls both installed kernels on small worked examples whose results are
// exact in binary, and compares every element; exits 1 on any difference.
// Compiled with the user flags -ffast-math -ffp-contract=fast, which the
// kernels' usage requirements must override (else the guard stops the build).
#include <cstdint>
#include <cstdio>

#include "common/exact_math_guard.h"
#include "spike_filter/spike_filter_sum.h"
#include "upsampler/upsample_bins.h"

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
  const DoubleMatrix x{2, 1, x_data};
  const UpsampleShape shape = upsample_output_shape(x.rows, 4.0);
  double y_data[8] = {};
  const double y_expected[8] = {3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 6.0, 4.0};
  int differences = 0;
  if (shape.status != UpsampleShapeStatus::ok || shape.output_rows != 8) {
    std::printf("upsample_output_shape: wrong shape\n");
    ++differences;
  } else {
    upsample_bins(x, 4.0, DoubleMatrix{8, 1, y_data});
    differences += count_differences("upsample_bins", y_data, y_expected, 8);
  }

  // Spikes at 1 and 2, one filter with taps (1, 10), window bins 1 .. 4.
  const double spinds[] = {1.0, 2.0};
  double taps[] = {1.0, 10.0};
  const double twin[] = {1.0, 4.0};
  const SpikeWindow window = spike_window(twin);
  double sums[4] = {};
  const double sums_expected[4] = {1.0, 11.0, 10.0, 0.0};
  if (window.status != SpikeWindowStatus::ok || window.rows != 4) {
    std::printf("spike_window: wrong window\n");
    ++differences;
  } else {
    spike_filter_sum(spinds, 2, DoubleMatrix{2, 1, taps}, twin,
                     DoubleMatrix{4, 1, sums});
    differences +=
        count_differences("spike_filter_sum", sums, sums_expected, 4);
  }
  if (differences == 0) {
    std::printf("consumer: both kernels give the expected results\n");
  }
  return differences == 0 ? 0 : 1;
}
