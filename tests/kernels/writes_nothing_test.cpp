// The kernels and their adjoints given an output they must not fill write
// nothing into it: a
// size rule that refuses the inputs, an output of the wrong shape (one row or
// column more or fewer), or a valid shape with no element.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernel_test_util.h"
#include "spike_filter/spike_filter_sum.h"
#include "spike_filter/spike_filter_sum_adjoint.h"
#include "upsampler/upsample_bins.h"
#include "upsampler/upsample_bins_adjoint.h"

using namespace spike_bins;

namespace {

enum class Kernel { upsample, spike, upsample_adjoint, spike_adjoint };

struct WritesNothingCase {
  const char *name;
  Kernel kernel;
  double a;         // nbns, or twin(1)
  double b;         // unused, or twin(2)
  int32_t in_rows;  // x, h or r rows
  int32_t in_cols;  // and columns
  int32_t y_rows;   // the output handed to the kernel
  int32_t y_cols;
  double ntaps = 3.0;  // the spike-sum adjoint's
};

void PrintTo(const WritesNothingCase &c, std::ostream *os) { *os << c.name; }

using WritesNothing = testing::TestWithParam<WritesNothingCase>;

TEST_P(WritesNothing, LeavesTheOutputAsItWas) {
  const WritesNothingCase &c = GetParam();
  std::vector<double> in(static_cast<size_t>(c.in_rows) * c.in_cols + 1);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<double>(i + 1);
  std::vector<double> y(32, kSentinel);
  const DoubleMatrix output{c.y_rows, c.y_cols, y.data()};
  const double spinds[] = {0.0, 1.0, 2.0, 3.0};
  const double twin[2] = {c.a, c.b};
  if (c.kernel == Kernel::upsample) {
    upsample_bins(view_of(in, c.in_rows, c.in_cols), c.a, output);
  } else if (c.kernel == Kernel::upsample_adjoint) {
    upsample_bins_adjoint(view_of(in, c.in_rows, c.in_cols), c.a, output);
  } else if (c.kernel == Kernel::spike_adjoint) {
    spike_filter_sum_adjoint(spinds, 4, view_of(in, c.in_rows, c.in_cols), twin,
                             c.ntaps, output);
  } else {
    // Spikes at 0 .. 3 reach every bin of 0 .. 5 with filters of 3 taps.
    spike_filter_sum(spinds, 4, view_of(in, c.in_rows, c.in_cols), twin,
                     output);
  }
  EXPECT_TRUE(untouched(y));
}

constexpr Kernel U = Kernel::upsample;
constexpr Kernel K = Kernel::spike;

// x is 3 x 2 where not said otherwise; nbns = 2 gives 6 x 2.
const WritesNothingCase kUpsampleCases[] = {
    {"NaN", U, kNaN, 0, 3, 2, 0, 2},
    {"plus Inf", U, kInf, 0, 3, 2, 0, 2},
    {"minus Inf", U, -kInf, 0, 3, 2, 0, 2},
    {"minus 1", U, -1.0, 0, 3, 2, -3, 2},
    {"just below minus 1", U, -1.0000000000000002, 0, 3, 2, 0, 2},
    {"minus 7.5", U, -7.5, 0, 3, 2, 0, 2},
    {"minus 1e300", U, -1e300, 0, 3, 2, 3, 2},
    {"2^31", U, 2147483648.0, 0, 3, 2, 0, 2},
    {"1e300", U, 1e300, 0, 3, 2, 0, 2},
    {"too many rows", U, 2147483647.0, 0, 2, 1, 1, 1},
    {"one row too many", U, 2.0, 0, 3, 2, 7, 2},
    {"one row too few", U, 2.0, 0, 3, 2, 5, 2},
    {"one column too many", U, 2.0, 0, 3, 2, 6, 3},
    {"one column too few", U, 2.0, 0, 3, 2, 6, 1},
    {"rows for E = 0", U, 0.5, 0, 3, 2, 6, 2},
    {"one row too many for one bin", U, 1.0, 0, 3, 1, 4, 1},
    // Valid shapes whose output has no element, or an input with no rows.
    {"E = 0 from 0.5", U, 0.5, 0, 3, 2, 0, 2},
    {"E = 0 from minus 0.5", U, -0.5, 0, 3, 1, 0, 1},
    {"E = 0 from minus 0.0", U, -0.0, 0, 3, 2, 0, 2},
    {"E = 0 from just below 1", U, 0.9999999999999999, 0, 3, 1, 0, 1},
    {"E = 0 from just above minus 1", U, -0.9999999999999999, 0, 3, 2, 0, 2},
    {"no columns", U, 3.0, 0, 3, 0, 9, 0},
    {"no rows, one column", U, 3.0, 0, 0, 1, 0, 1},
    {"no rows, many columns", U, 7.5, 0, 0, 4, 0, 4},
    // A fuzz finding: E close to 2^31 - 1 with one row and no column once
    // overflowed the 32-bit counter of the weight chunks (undefined
    // behaviour; wrapped, it went on to fill a fixed-size weight table past
    // its end) and did ~2^31 steps of work for an output with no element.
    {"no columns, E = 2147483647 from 2147483647.5", U, 2147483647.5, 0, 1, 0,
     2147483647, 0},
    {"no columns, E = 2147483647", U, 2147483647.0, 0, 1, 0, 2147483647, 0},
    {"no columns, E = 2147483521", U, 2147483521.0, 0, 1, 0, 2147483521, 0},
    {"no columns, E = 2147483520", U, 2147483520.0, 0, 1, 0, 2147483520, 0},
    {"no columns, E = 2147483519", U, 2147483519.0, 0, 1, 0, 2147483519, 0},
};

// Two filters of 3 taps; the window 0 .. 5 gives 6 x 2.
const WritesNothingCase kSpikeCases[] = {
    {"NaN end", K, kNaN, 5.0, 3, 2, 6, 2},
    {"infinite end", K, 0.0, kInf, 3, 2, 6, 2},
    {"minus Inf start", K, -kInf, 0.0, 3, 2, 6, 2},
    {"end at 2^31", K, 0.0, 2147483648.0, 3, 2, 6, 2},
    {"start below INT32_MIN", K, -2147483649.0, 0.0, 3, 2, 6, 2},
    {"T1 < T0 - 1", K, 5.0, 0.0, 3, 2, 6, 2},
    {"T1 = T0 - 2", K, 5.0, 3.0, 3, 2, 0, 2},
    {"too many rows", K, -2147483648.0, 2147483647.0, 3, 2, 6, 2},
    {"one row too many", K, 0.0, 5.0, 3, 2, 7, 2},
    {"one row too few", K, 0.0, 5.0, 3, 2, 5, 2},
    {"one column too many", K, 0.0, 5.0, 3, 2, 6, 3},
    {"one column too few", K, 0.0, 5.0, 3, 2, 6, 1},
    {"rows for an empty window", K, 5.0, 4.0, 3, 2, 1, 2},
};

constexpr Kernel UA = Kernel::upsample_adjoint;
constexpr Kernel KA = Kernel::spike_adjoint;

// r is 6 x 2 where not said otherwise; nbns = 2 gives 3 x 2.
const WritesNothingCase kUpsampleAdjointCases[] = {
    {"NaN", UA, kNaN, 0, 6, 2, 3, 2},
    {"plus Inf", UA, kInf, 0, 6, 2, 3, 2},
    {"just below 1", UA, 0.9999999999999999, 0, 6, 2, 6, 2},
    {"E = 0", UA, 0.5, 0, 6, 2, 0, 2},
    {"minus 2", UA, -2.0, 0, 6, 2, 3, 2},
    {"2^31", UA, 2147483648.0, 0, 6, 2, 0, 2},
    {"rows not a multiple of E", UA, 4.0, 0, 6, 2, 1, 2},
    {"one row too many", UA, 2.0, 0, 6, 2, 4, 2},
    {"one row too few", UA, 2.0, 0, 6, 2, 2, 2},
    {"one column too many", UA, 2.0, 0, 6, 2, 3, 3},
    {"one column too few", UA, 2.0, 0, 6, 2, 3, 1},
    {"no rows", UA, 3.0, 0, 0, 2, 0, 2},
    {"no columns", UA, 3.0, 0, 6, 0, 2, 0},
};

// r is 6 x 2 (the window 0 .. 5) where not said otherwise; 3 taps give
// 3 x 2.
const WritesNothingCase kSpikeAdjointCases[] = {
    {"NaN end", KA, kNaN, 5.0, 6, 2, 3, 2},
    {"T1 < T0 - 1", KA, 5.0, 0.0, 6, 2, 3, 2},
    {"negative taps", KA, 0.0, 5.0, 6, 2, 1, 2, -1.0},
    {"fractional taps", KA, 0.0, 5.0, 6, 2, 2, 2, 2.5},
    {"NaN taps", KA, 0.0, 5.0, 6, 2, 3, 2, kNaN},
    {"2^31 taps", KA, 0.0, 5.0, 6, 2, 0, 2, 2147483648.0},
    {"r one row too many", KA, 0.0, 5.0, 7, 2, 3, 2},
    {"r one row too few", KA, 0.0, 5.0, 5, 2, 3, 2},
    {"one tap row too many", KA, 0.0, 5.0, 6, 2, 4, 2},
    {"one tap row too few", KA, 0.0, 5.0, 6, 2, 2, 2},
    {"one column too many", KA, 0.0, 5.0, 6, 2, 3, 3},
    {"one column too few", KA, 0.0, 5.0, 6, 2, 3, 1},
    {"no taps", KA, 0.0, 5.0, 6, 2, 0, 2, 0.0},
    {"empty window", KA, 5.0, 4.0, 0, 2, 3, 2},
};

INSTANTIATE_TEST_SUITE_P(UpsampleBins, WritesNothing,
                         testing::ValuesIn(kUpsampleCases),
                         case_name<WritesNothingCase>);
INSTANTIATE_TEST_SUITE_P(SpikeFilterSum, WritesNothing,
                         testing::ValuesIn(kSpikeCases),
                         case_name<WritesNothingCase>);

INSTANTIATE_TEST_SUITE_P(UpsampleBinsAdjoint, WritesNothing,
                         testing::ValuesIn(kUpsampleAdjointCases),
                         case_name<WritesNothingCase>);
INSTANTIATE_TEST_SUITE_P(SpikeFilterSumAdjoint, WritesNothing,
                         testing::ValuesIn(kSpikeAdjointCases),
                         case_name<WritesNothingCase>);

}  // namespace
