// Inputs found by fuzzing (fuzz/), kept as plain test cases: each once made a
// kernel misbehave. The raw fuzz inputs are replayed too, from
// fuzz/regressions/, by the fuzz_replay_* tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernel_test_util.h"
#include "upsampler/upsample_bins.h"

namespace {

// E close to 2^31 - 1 with an input of one row and no columns: the output is
// E x 0, valid and empty. Stepping through the row positions of so large an E
// in chunks once overflowed the 32-bit chunk counter (undefined behaviour;
// wrapped, it went on to fill a fixed-size weight table past its end), and
// did ~2^31 steps of work for an output with no element.
TEST(FuzzRegression, BinCountNearInt32MaxWithNoColumnsWritesNothing) {
  const double bin_counts[] = {2147483647.5, 2147483647.0, 2147483521.0,
                               2147483520.0, 2147483519.0};
  for (double nbns : bin_counts) {
    SCOPED_TRACE(describe_double(nbns));
    const UpsampleShape shape = upsample_output_shape(1, nbns);
    ASSERT_EQ(shape.status, UpsampleShapeStatus::ok);
    // No column: neither x nor y holds an element; the guard must stay.
    std::vector<double> x(1, kSentinel);
    std::vector<double> y(4, kSentinel);
    upsample_bins(DoubleMatrix{1, 0, x.data()}, nbns,
                  DoubleMatrix{shape.output_rows, 0, y.data()});
    expect_untouched(y, "output guard");
  }
}

}  // namespace
