// Exact-value tests of spike_filter_sum, its adjoint, the window rule, the
// adjoint's shape rule and the population sums (tables, and seeded comparisons
// with the reference rules over wide ranges).
#include "spike_filter/spike_filter_sum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel_test_util.h"
#include "spike_filter/spike_filter_pop.h"
#include "spike_filter/spike_filter_pop_adjoint.h"
#include "spike_filter/spike_filter_sum_adjoint.h"

using namespace spike_bins;

namespace {

struct SpikeCase {
  const char *name;
  std::vector<double> spinds;
  int32_t taps;           // c
  int32_t filters;        // K
  std::vector<double> h;  // column-major, c x K
  double t0;
  double t1;
  std::vector<double> expected;  // column-major, R x K
};

void PrintTo(const SpikeCase &c, std::ostream *os) { *os << c.name; }

// Runs the kernel into a zero-filled output followed by sentinel guards and
// checks the output bits, the guards, and that the reference agrees on the
// same case.
using SpikeExact = testing::TestWithParam<SpikeCase>;

TEST_P(SpikeExact, GivesTheExpectedBits) {
  const SpikeCase &c = GetParam();
  const double twin[2] = {c.t0, c.t1};
  const SpikeWindow window = spike_window(twin);
  ASSERT_EQ(window.status, SpikeWindowStatus::ok);
  const size_t size = static_cast<size_t>(window.rows) * c.filters;
  ASSERT_EQ(size, c.expected.size());
  std::vector<double> h = c.h;
  std::vector<double> buffer(size + 4, kSentinel);
  std::fill(buffer.begin(), buffer.begin() + size, 0.0);
  spike_filter_sum(c.spinds.data(), static_cast<int32_t>(c.spinds.size()),
                   view_of(h, c.taps, c.filters), twin,
                   view_of(buffer, window.rows, c.filters));
  const std::vector<double> output(buffer.begin(), buffer.begin() + size);
  EXPECT_TRUE(same_bits_as(output, c.expected, window.rows));
  EXPECT_TRUE(untouched({buffer.begin() + size, buffer.end()})) << "guard";

  std::vector<double> reference(size, 0.0);
  reference_spike_sum(c.spinds.data(), static_cast<int32_t>(c.spinds.size()),
                      c.h.data(), c.taps, c.filters, c.t0, c.t1,
                      reference.data());
  EXPECT_TRUE(same_bits_as(reference, c.expected, window.rows)) << "reference";
}

const std::vector<double> kTaps124 = {1.0, 2.0, 4.0};

const double kThird = 1.0 / 3.0;

const std::vector<SpikeCase> kExactCases = {
    // L = 8, U = 14; row 0 accumulates 0 + r, then + p.
    {"worked example",
     {8.0, 10.5, 13.2, 14.0},
     3,
     1,
     {0.1, 0.2, 0.7},
     10.0,
     13.0,
     {0.7999999999999999, 0.2, 0.7, 0.1}},
    {"no later spike after the end of the scan",
     {8.0, 10.5, 13.2, 14.0, 10.0},
     3,
     1,
     {0.1, 0.2, 0.7},
     10.0,
     13.0,
     {0.7999999999999999, 0.2, 0.7, 0.1}},
    {"no spikes", {}, 3, 1, kTaps124, 10.0, 13.0, {0, 0, 0, 0}},
    {"spike at exactly L adds its last tap",
     {8.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {4, 0, 0, 0}},
    {"spike just below L is skipped",
     {7.999999999999999},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 0, 0, 0}},
    {"skip then take",
     {7.999999999999999, 8.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {4, 0, 0, 0}},
    {"spike at T1 + 0.5 adds tap 0 to the last row",
     {13.5},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 0, 0, 1}},
    {"spike at T1 + 1 ends the scan",
     {14.0, 12.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 0, 0, 0}},
    {"spike just below T1 + 1",
     {13.999999999999998},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 0, 0, 1}},
    {"two spikes in one bin",
     {11.0, 11.9},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 2, 4, 8}},
    // Only the spike at 2 contributes: 50 ends the scan.
    {"out of order",
     {2.0, 50.0, 3.0, 4.0},
     3,
     1,
     kTaps124,
     1.0,
     10.0,
     {0, 1, 2, 4, 0, 0, 0, 0, 0, 0}},
    // A taken spike that cannot reach the window adds nothing.
    {"taken spike far before the window",
     {10.0, 1.0, 12.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {1, 2, 5, 2}},
    // -1.5 is taken after 2.0 although below L = -1: its bin -1 (toward
    // zero) reaches the window with its last tap.
    {"negative spike out of order",
     {2.0, -1.5},
     3,
     1,
     kTaps124,
     1.0,
     5.0,
     {4, 1, 2, 4, 0}},
    // The additions follow the list order.
    {"order-dependent bits, 5 3 5 3 5",
     {5, 3, 5, 3, 5},
     3,
     1,
     {0.1, kThird, 0.7},
     1.0,
     9.0,
     {0, 0, 0.2, 0.6666666666666666, 1.7, 1.0, 2.0999999999999996, 0, 0}},
    {"order-dependent bits, 3 3 5 5 5",
     {3, 3, 5, 5, 5},
     3,
     1,
     {0.1, kThird, 0.7},
     1.0,
     9.0,
     {0, 0, 0.2, 0.6666666666666666, 1.7000000000000002, 1.0,
      2.0999999999999996, 0, 0}},
    {"NaN before the first spike at L stops everything",
     {kNaN, 11.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 0, 0, 0}},
    {"NaN after a skipped spike",
     {1.0, kNaN, 11.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 0, 0, 0}},
    {"NaN ends the scan",
     {11.0, kNaN, 12.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 1, 2, 4}},
    // L = -1: the skip compares the untruncated time, the bin truncates
    // toward zero.
    {"negative time -0.5 lies in bin 0",
     {-0.5},
     3,
     1,
     kTaps124,
     1.0,
     5.0,
     {2, 4, 0, 0, 0}},
    {"negative time -1.0 lies in bin -1",
     {-1.0},
     3,
     1,
     kTaps124,
     1.0,
     5.0,
     {4, 0, 0, 0, 0}},
    {"negative time -1.5 is skipped",
     {-1.5},
     3,
     1,
     kTaps124,
     1.0,
     5.0,
     {0, 0, 0, 0, 0}},
    {"-0.0 lies in bin 0", {-0.0}, 2, 1, {1.0, 2.0}, 0.0, 1.0, {1, 2}},
    {"subnormal time lies in bin 0",
     {4.9406564584124654e-324},
     2,
     1,
     {1.0, 2.0},
     0.0,
     1.0,
     {1, 2}},
    {"filters without taps", {10.0, 11.0}, 0, 1, {}, 10.0, 13.0, {0, 0, 0, 0}},
    {"no filters", {10.0, 11.0}, 3, 0, {}, 10.0, 13.0, {}},
    {"T1 = T0 - 1", {10.0, 11.0}, 3, 1, kTaps124, 10.0, 9.0, {}},
    {"one-bin window", {4.0, 5.0, 5.5}, 3, 1, kTaps124, 5.0, 5.0, {4}},
    // Bins 2 .. 9; L = 2, U = 10.
    {"fractional window (2.7, 9.2)",
     {1.9, 2.0, 9.9, 10.0},
     1,
     1,
     {5.0},
     2.7,
     9.2,
     {5, 0, 0, 0, 0, 0, 0, 5}},
    // Bins -3 .. 0; L = -3, U = 1.
    {"negative fractional window (-3.7, -0.2)",
     {-3.9, -3.5, -3.0, -0.5, 0.5, 0.99, 1.0},
     1,
     1,
     {1.0},
     -3.7,
     -0.2,
     {1, 0, 0, 3}},
    {"two filters",
     {0.5, 1.0},
     2,
     2,
     {1.0, 2.0, 10.0, 20.0},
     0.0,
     2.0,
     {1, 3, 2, 10, 30, 20}},
    {"Inf + -Inf taps give NaN",
     {0.0, 1.0},
     2,
     1,
     {kInf, -kInf},
     1.0,
     1.0,
     {kNaN}},
    {"NaN tap", {0.0, 1.0}, 2, 1, {kNaN, 1.0}, 0.0, 1.0, {kNaN, kNaN}},
};

INSTANTIATE_TEST_SUITE_P(SpikeFilterSum, SpikeExact,
                         testing::ValuesIn(kExactCases), case_name<SpikeCase>);

const std::vector<double> kTaps5 = {1.0, 2.0, 4.0, 8.0, 16.0};

// Spike times and windows at the edges of the number ranges: the sound
// results, no undefined behaviour (checked by the sanitizer build).
const std::vector<SpikeCase> kExtremeCases = {
    {"1e300 ends the scan",
     {11.0, 1e300, 12.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 1, 2, 4}},
    {"+Inf ends the scan",
     {11.0, kInf, 12.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 1, 2, 4}},
    {"-1e300 and -Inf are skipped",
     {-1e300, -kInf, 11.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 1, 2, 4}},
    {"-1e300 and -Inf after a taken spike add nothing",
     {11.0, -1e300, -kInf, -2147483649.0, -9.3e18, 12.0},
     3,
     1,
     kTaps124,
     10.0,
     13.0,
     {0, 1, 3, 6}},
    {"huge negative spikes before a negative window",
     {-1e300, -3e9, -2147483649.5},
     3,
     1,
     kTaps124,
     -5.0,
     -3.0,
     {0, 0, 0}},
    // T0 = INT32_MIN, c = 5: L = -2^31 - 4 lies below the int32 range, as
    // do the bins of the first spikes.
    {"window at INT32_MIN",
     {-2147483653.0, -2147483652.0, -2147483651.5, -2147483648.5},
     5,
     1,
     kTaps5,
     -2147483648.0,
     -2147483645.0,
     {16 + 8 + 1, 16 + 2, 4, 8}},
    {"window at INT32_MIN from a fractional end",
     {-2147483652.0},
     5,
     1,
     kTaps5,
     -2147483648.75,
     -2147483648.0,
     {16}},
    // T1 = INT32_MAX: U = 2^31 and B + c - 1 lie above the int32 range.
    {"window at INT32_MAX",
     {2147483646.0, 2147483647.5, 2147483648.0, 2147483645.0},
     5,
     1,
     kTaps5,
     2147483645.0,
     2147483647.0,
     {0, 1, 3}},
    {"window at INT32_MAX from fractional ends",
     {2147483647.75},
     5,
     1,
     kTaps5,
     2147483647.25,
     2147483647.75,
     {1}},
    {"far spikes after a taken one at INT32_MAX",
     {2147483646.0, -2147483648.0, -1e300},
     5,
     1,
     kTaps5,
     2147483645.0,
     2147483647.0,
     {0, 1, 2}},
};

INSTANTIATE_TEST_SUITE_P(SpikeFilterSumExtreme, SpikeExact,
                         testing::ValuesIn(kExtremeCases),
                         case_name<SpikeCase>);

struct WindowCase {
  const char *name;
  double t0;
  double t1;
  SpikeWindowStatus status;
  int32_t first;  // checked when ok
  int32_t last;   // checked when ok
  int32_t rows;   // checked when ok
};

void PrintTo(const WindowCase &c, std::ostream *os) { *os << c.name; }

using S = SpikeWindowStatus;
const WindowCase kWindowCases[] = {
    {"NaN first", kNaN, 5.0, S::bad_end, 0, 0, 0},
    {"NaN last", 5.0, kNaN, S::bad_end, 0, 0, 0},
    {"minus Inf first", -kInf, 5.0, S::bad_end, 0, 0, 0},
    {"plus Inf last", 5.0, kInf, S::bad_end, 0, 0, 0},
    {"2^31", 2147483648.0, 2147483648.0, S::bad_end, 0, 0, 0},
    {"minus 2^31 minus 1", -2147483649.0, 0.0, S::bad_end, 0, 0, 0},
    {"1e300", 0.0, 1e300, S::bad_end, 0, 0, 0},
    {"truncates to INT32_MIN", -2147483648.75, -2147483648.0, S::ok, INT32_MIN,
     INT32_MIN, 1},
    {"truncates to INT32_MAX", 2147483647.75, 2147483647.75, S::ok, INT32_MAX,
     INT32_MAX, 1},
    {"one bin", 5.0, 5.0, S::ok, 5, 5, 1},
    {"T1 = T0 - 1", 5.0, 4.0, S::ok, 5, 4, 0},
    {"T1 = T0 - 2", 5.0, 3.0, S::negative_rows, 0, 0, 0},
    {"fractions truncate", 2.7, 9.2, S::ok, 2, 9, 8},
    {"negative fractions truncate toward zero", -2.5, -0.5, S::ok, -2, 0, 3},
    {"T1 = T0 - 1 after truncation", -2.5, -3.5, S::ok, -2, -3, 0},
    {"INT32_MAX, INT32_MIN", 2147483647.0, -2147483648.0, S::negative_rows, 0,
     0, 0},
    {"largest window", 0.0, 2147483646.0, S::ok, 0, INT32_MAX - 1, INT32_MAX},
    {"2^31 rows", -1.0, 2147483646.0, S::too_many_rows, 0, 0, 0},
    {"2^32 rows", -2147483648.0, 2147483647.0, S::too_many_rows, 0, 0, 0},
};

using SpikeWindowRule = testing::TestWithParam<WindowCase>;

TEST_P(SpikeWindowRule, GivesTheExpectedWindow) {
  const WindowCase &c = GetParam();
  const double twin[2] = {c.t0, c.t1};
  const SpikeWindow window = spike_window(twin);
  ASSERT_EQ(window.status, c.status);
  if (c.status == S::ok) {
    EXPECT_EQ(window.first_bin, c.first);
    EXPECT_EQ(window.last_bin, c.last);
    EXPECT_EQ(window.rows, c.rows);
  }
}

INSTANTIATE_TEST_SUITE_P(SpikeWindow, SpikeWindowRule,
                         testing::ValuesIn(kWindowCases),
                         case_name<WindowCase>);

// A window end from anywhere in the range of doubles, the int32 edges and
// the values of random_value included.
double random_window_end(Rng &rng) {
  const int kind = pick(rng, 0, 9);
  if (kind < 3) return uniform(rng, -2.2e9, 2.2e9);
  if (kind < 5) return pick(rng, INT32_MIN, INT32_MAX);
  if (kind < 7) return random_value(rng);
  const double edges[] = {2147483647.0,  2147483647.75,  2147483648.0,
                          -2147483648.0, -2147483648.75, -2147483649.0};
  return edges[pick(rng, 0, 5)];
}

// The rule against the reference's bins and row count, seeded, over the
// whole range of doubles and over small windows (a fraction added away from
// zero truncates back to the same bin).
TEST(SpikeWindow, MatchesReferenceOverWideRanges) {
  for (int index = 0; index < kRandomCases; ++index) {
    Rng rng = case_rng(index);
    double twin[2] = {random_window_end(rng), random_window_end(rng)};
    if (chance(rng, 50)) {
      const int32_t first = pick(rng, -8, 20);
      const int32_t last = first - 1 + pick(rng, -1, 10);
      twin[0] = first + (first > 0 ? 0.5 : -0.5) * chance(rng, 40);
      twin[1] = last + (last > 0 ? 0.5 : -0.5) * chance(rng, 40);
    }
    SCOPED_TRACE(testing::Message()
                 << "case " << index << ": twin " << describe_double(twin[0])
                 << ", " << describe_double(twin[1]));
    const SpikeWindow window = spike_window(twin);
    int32_t first = 0;
    int32_t last = 0;
    if (!reference_window_bin(twin[0], &first) ||
        !reference_window_bin(twin[1], &last)) {
      ASSERT_EQ(window.status, S::bad_end);
      continue;
    }
    const int64_t rows = reference_window_rows(first, last);
    ASSERT_EQ(window.status, rows < 0           ? S::negative_rows
                             : rows > INT32_MAX ? S::too_many_rows
                                                : S::ok);
    if (window.status == S::ok) {
      ASSERT_EQ(window.first_bin, first);
      ASSERT_EQ(window.last_bin, last);
      ASSERT_EQ(window.rows, rows);
    }
  }
}

// --- The adjoint ------------------------------------------------------------

struct SpikeAdjointCase {
  const char *name;
  std::vector<double> spinds;
  double ntaps;           // c
  int32_t cols;           // M
  std::vector<double> r;  // column-major, R x M
  double t0;
  double t1;
  std::vector<double> expected;  // column-major, c x M
};

void PrintTo(const SpikeAdjointCase &c, std::ostream *os) { *os << c.name; }

// Runs the kernel into a zero-filled output followed by sentinel guards;
// expected values from tests/golden/make_golden.py's
// spike_filter_sum_adjoint.
using SpikeAdjointExact = testing::TestWithParam<SpikeAdjointCase>;

TEST_P(SpikeAdjointExact, GivesTheExpectedBits) {
  const SpikeAdjointCase &c = GetParam();
  const double twin[2] = {c.t0, c.t1};
  const int32_t rows = static_cast<int32_t>(c.r.size()) / c.cols;
  const SpikeAdjointShape shape = spike_adjoint_shape(twin, c.ntaps, rows);
  ASSERT_EQ(shape.status, SpikeAdjointShapeStatus::ok);
  const size_t size = static_cast<size_t>(shape.taps) * c.cols;
  ASSERT_EQ(size, c.expected.size());
  std::vector<double> r = c.r;
  std::vector<double> buffer(size + 4, kSentinel);
  std::fill(buffer.begin(), buffer.begin() + size, 0.0);
  spike_filter_sum_adjoint(c.spinds.data(),
                           static_cast<int32_t>(c.spinds.size()),
                           view_of(r, rows, c.cols), twin, c.ntaps,
                           view_of(buffer, shape.taps, c.cols));
  const std::vector<double> output(buffer.begin(), buffer.begin() + size);
  EXPECT_TRUE(same_bits_as(output, c.expected, shape.taps));
  EXPECT_TRUE(untouched({buffer.begin() + size, buffer.end()})) << "guard";

  std::vector<double> reference(size, 0.0);
  reference_spike_sum_adjoint(c.spinds.data(),
                              static_cast<int32_t>(c.spinds.size()), c.r.data(),
                              shape.taps, c.cols, c.t0, c.t1, reference.data());
  EXPECT_TRUE(same_bits_as(reference, c.expected, shape.taps)) << "reference";
}

const std::vector<double> kOrderR = {0.5, 0.25, 0.7, kThird, 0.1,
                                     2.0, 3.0,  4.0, 5.0};

const std::vector<SpikeAdjointCase> kAdjointCases = {
    // g(2) = r(0) from 8.0, then + r(2) from 10.5; g(0) = r(0) from 10.5,
    // then + r(3) from 13.2; 14.0 ends the scan.
    {"worked example",
     {8.0, 10.5, 13.2, 14.0},
     3.0,
     1,
     {1, 2, 4, 8},
     10.0,
     13.0,
     {9, 2, 5}},
    // g(0) takes r of bins 5, 3, 5, 3, 5: 0.1 0.7 0.1 0.7 0.1 in list order.
    {"list order 5 3 5 3 5",
     {5.0, 3.0, 5.0, 3.0, 5.0},
     3.0,
     1,
     kOrderR,
     1.0,
     9.0,
     {1.7, 6.666666666666667, 9.2}},
    {"sorted 3 3 5 5 5",
     {3.0, 3.0, 5.0, 5.0, 5.0},
     3.0,
     1,
     kOrderR,
     1.0,
     9.0,
     {1.7000000000000002, 6.666666666666666, 9.2}},
    {"negative times truncate toward zero",
     {-1.5, -1.0, -0.5},
     3.0,
     1,
     {1, 2, 4, 8, 16},
     1.0,
     5.0,
     {0, 1, 3}},
    {"NaN ends the scan",
     {2.0, kNaN, 3.0},
     2.0,
     1,
     {1, 2, 4, 8},
     1.0,
     4.0,
     {2, 4}},
    {"out of order far before is passed over",
     {2.0, -50.0, 3.0},
     2.0,
     1,
     {1, 2, 4, 8},
     1.0,
     4.0,
     {6, 12}},
    {"two columns",
     {0.0, 2.5, 3.0},
     4.0,
     2,
     {1, 2, 4, 8, 0.5, 0.25, -1, 3},
     1.0,
     4.0,
     {6, 13, 10, 4, -0.75, 2.5, 3.25, -1}},
    {"fractional window ends",
     {0.0, 2.5, 3.0},
     4.0,
     1,
     {1, 2, 4, 8, 16},
     1.9,
     5.2,
     {6, 13, 26, 20}},
    {"infinities in r",
     {1.0, 2.0},
     2.0,
     1,
     {kInf, 1.0, -kInf},
     1.0,
     3.0,
     {kInf, -kInf}},
    {"no taps", {1.0, 2.0}, 0.0, 2, {1, 2, 3, 4, 5, 6}, 1.0, 3.0, {}},
    {"minus zero taps", {1.0, 2.0}, -0.0, 1, {1, 2, 3}, 1.0, 3.0, {}},
    {"no spikes", {}, 2.0, 1, {1, 2, 3}, 1.0, 3.0, {0, 0}},
    {"empty window", {1.0, 2.0}, 2.0, 1, {}, 5.0, 4.0, {0, 0}},
    {"window at the top of the int32 range",
     {2147483640.5, 2147483646.0, 2147483647.9},
     6.0,
     1,
     {1, 2, 4, 8},
     2147483644.0,
     2147483647.0,
     {12, 8, 0, 0, 1, 2}},
    {"window at the bottom of the int32 range",
     {-2147483648.5, -2147483646.0},
     3.0,
     1,
     {1, 2, 4},
     -2147483648.0,
     -2147483646.0,
     {5, 2, 4}},
};

INSTANTIATE_TEST_SUITE_P(SpikeFilterSumAdjoint, SpikeAdjointExact,
                         testing::ValuesIn(kAdjointCases),
                         case_name<SpikeAdjointCase>);

struct AdjointShapeCase {
  const char *name;
  double t0;
  double t1;
  double ntaps;
  int32_t rows;  // r's
  SpikeAdjointShapeStatus status;
  int32_t taps;  // checked when ok
};

void PrintTo(const AdjointShapeCase &c, std::ostream *os) { *os << c.name; }

using A = SpikeAdjointShapeStatus;
const AdjointShapeCase kAdjointShapeCases[] = {
    {"NaN window end", kNaN, 5.0, 3.0, 6, A::bad_window, 0},
    {"negative window", 5.0, 3.0, 3.0, 0, A::bad_window, 0},
    {"window too long", -2147483648.0, 2147483647.0, 3.0, 6, A::bad_window, 0},
    {"negative taps", 0.0, 5.0, -1.0, 6, A::bad_tap_count, 0},
    {"fractional taps", 0.0, 5.0, 2.5, 6, A::bad_tap_count, 0},
    {"just above a whole number", 0.0, 5.0, 3.0000000000000004, 6,
     A::bad_tap_count, 0},
    {"tiny fraction", 0.0, 5.0, 5e-324, 6, A::bad_tap_count, 0},
    {"NaN taps", 0.0, 5.0, kNaN, 6, A::bad_tap_count, 0},
    {"Inf taps", 0.0, 5.0, kInf, 6, A::bad_tap_count, 0},
    {"2^31 taps", 0.0, 5.0, 2147483648.0, 6, A::bad_tap_count, 0},
    {"bad window before bad taps", kNaN, 5.0, kNaN, 6, A::bad_window, 0},
    {"bad taps before wrong rows", 0.0, 5.0, -1.0, 2, A::bad_tap_count, 0},
    {"one row too many", 0.0, 5.0, 3.0, 7, A::wrong_input_rows, 0},
    {"one row too few", 0.0, 5.0, 3.0, 5, A::wrong_input_rows, 0},
    {"rows for an empty window", 5.0, 4.0, 3.0, 1, A::wrong_input_rows, 0},
    {"zero taps", 0.0, 5.0, 0.0, 6, A::ok, 0},
    {"minus zero taps", 0.0, 5.0, -0.0, 6, A::ok, 0},
    {"INT32_MAX taps", 0.0, 5.0, 2147483647.0, 6, A::ok, INT32_MAX},
    {"empty window", 5.0, 4.0, 3.0, 0, A::ok, 3},
};

using SpikeAdjointShapeRule = testing::TestWithParam<AdjointShapeCase>;

TEST_P(SpikeAdjointShapeRule, GivesTheExpectedShape) {
  const AdjointShapeCase &c = GetParam();
  const double twin[2] = {c.t0, c.t1};
  const SpikeAdjointShape shape = spike_adjoint_shape(twin, c.ntaps, c.rows);
  ASSERT_EQ(shape.status, c.status);
  if (c.status == A::ok) {
    EXPECT_EQ(shape.taps, c.taps);
    EXPECT_EQ(shape.window.rows, c.rows);
  }
}

INSTANTIATE_TEST_SUITE_P(SpikeAdjointShape, SpikeAdjointShapeRule,
                         testing::ValuesIn(kAdjointShapeCases),
                         case_name<AdjointShapeCase>);

// The tap count against the reference's, seeded, over whole numbers at the
// int32 edges, fractions and every kind of value.
TEST(SpikeAdjointShape, TapCountMatchesReferenceOverWideRanges) {
  const double twin[2] = {0.0, 3.0};
  for (int index = 0; index < kRandomCases; ++index) {
    Rng rng = case_rng(index);
    const int kind = pick(rng, 0, 3);
    const double ntaps =
        kind == 0   ? static_cast<double>(pick(rng, INT32_MIN, INT32_MAX))
        : kind == 1 ? std::nextafter(static_cast<double>(pick(rng, -3, 3)),
                                     chance(rng, 50) ? kInf : -kInf)
        : kind == 2 ? uniform(rng, -3e9, 3e9)
                    : random_value(rng);
    SCOPED_TRACE(testing::Message()
                 << "case " << index << ": ntaps " << describe_double(ntaps));
    const SpikeAdjointShape shape = spike_adjoint_shape(twin, ntaps, 4);
    int32_t taps = 0;
    if (!reference_tap_count(ntaps, &taps)) {
      ASSERT_EQ(shape.status, A::bad_tap_count);
      continue;
    }
    ASSERT_EQ(shape.status, A::ok);
    ASSERT_EQ(shape.taps, taps);
  }
}

// --- Population sums ---------------------------------------------------------

struct PopCase {
  const char *name;
  std::vector<double> spinds;
  std::vector<double> ids;
  int32_t base;
  int32_t sources;        // N
  int32_t taps;           // c
  int32_t outputs;        // K
  std::vector<double> h;  // c x N*K
  std::vector<double> r;  // R x K
  double t0;
  double t1;
  std::vector<double> y;  // R x K, from zeros
  std::vector<double> g;  // c x N*K, from zeros
};

void PrintTo(const PopCase &c, std::ostream *os) { *os << c.name; }

using PopExact = testing::TestWithParam<PopCase>;

// Both kernels into zero-filled outputs with sentinel guards, and both
// references, against bits from make_golden.py's population sums.
TEST_P(PopExact, GivesTheExpectedBits) {
  const PopCase &c = GetParam();
  const double twin[2] = {c.t0, c.t1};
  const int32_t rows = spike_window(twin).rows;
  const int32_t filters = c.sources * c.outputs;
  const int32_t b = static_cast<int32_t>(c.spinds.size());
  std::vector<double> h = c.h;
  std::vector<double> r = c.r;
  std::vector<double> y(c.y.size() + 2, kSentinel);
  std::fill(y.begin(), y.end() - 2, 0.0);
  spike_filter_pop(c.spinds.data(), c.ids.data(), b,
                   view_of(h, c.taps, filters), twin, c.sources, c.base,
                   view_of(y, rows, c.outputs));
  EXPECT_TRUE(untouched({y.end() - 2, y.end()})) << "guard";
  y.resize(c.y.size());
  EXPECT_TRUE(same_bits_as(y, c.y, rows));
  std::vector<double> g(c.g.size() + 2, kSentinel);
  std::fill(g.begin(), g.end() - 2, 0.0);
  spike_filter_pop_adjoint(c.spinds.data(), c.ids.data(), b,
                           view_of(r, rows, c.outputs), twin, c.taps, c.sources,
                           c.base, view_of(g, c.taps, filters));
  EXPECT_TRUE(untouched({g.end() - 2, g.end()})) << "guard";
  g.resize(c.g.size());
  EXPECT_TRUE(same_bits_as(g, c.g, c.taps));

  std::vector<double> reference(c.y.size(), 0.0);
  reference_pop_sum(c.spinds.data(), c.ids.data(), b, c.h.data(), c.taps,
                    c.sources, c.outputs, c.base, c.t0, c.t1, reference.data());
  EXPECT_TRUE(same_bits_as(reference, c.y, rows)) << "reference";
  reference.assign(c.g.size(), 0.0);
  reference_pop_sum_adjoint(c.spinds.data(), c.ids.data(), b, c.r.data(),
                            c.taps, c.sources, c.outputs, c.base, c.t0, c.t1,
                            reference.data());
  EXPECT_TRUE(same_bits_as(reference, c.g, c.taps)) << "adjoint reference";
}

INSTANTIATE_TEST_SUITE_P(
    SpikeFilterPop, PopExact,
    testing::Values(
        // Sources interleaved in list order: bin 5 gets 0.1, 2, 0.1, 2, 0.1.
        PopCase{"two_sources_in_list_order",
                {5.0, 3.0, 5.0, 3.0, 5.0},
                {1.0, 2.0, 1.0, 2.0, 1.0},
                1,
                2,
                3,
                1,
                {0.1, 1.0 / 3.0, 0.7, 0.5, 0.25, 2.0},
                {0.5, 0.25, 0.7, 1.0 / 3.0, 0.1, 2.0, 3.0, 4.0, 5.0},
                1.0,
                9.0,
                {0.0, 0.0, 1.0, 0.5, 4.3, 1.0, 2.0999999999999996, 0.0, 0.0},
                {0.30000000000000004, 6.0, 9.0, 1.4, 0.6666666666666666, 0.2}},
        // Three sources numbered from 0, two output columns, spikes out of
        // order, the scan ending at the NaN (the spike at 11 is not used).
        PopCase{
            "three_sources_two_columns_from_zero",
            {8.0, 10.5, 13.2, 9.1, kNaN, 11.0},
            {2.0, 0.0, 1.0, 2.0, 0.0, 1.0},
            0,
            3,
            2,
            2,
            {1, 2, 3, 4, 5, 6, 10, 20, 30, 40, 50, 60},
            {1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0, 128.0},
            10.0,
            13.0,
            {7.0, 2.0, 0.0, 3.0, 70.0, 20.0, 0.0, 30.0},
            {1.0, 2.0, 8.0, 0.0, 0.0, 1.0, 16.0, 32.0, 128.0, 0.0, 0.0, 16.0}}),
    case_name<PopCase>);

// One source (every id the base) is the single-train sum bit for bit, into
// outputs that start from any values (the kernels add into them).
TEST(SpikeFilterPop, OneSourceIsTheSingleTrainSum) {
  for (int index = 0; index < 300; ++index) {
    Rng rng = case_rng(index);
    const int32_t taps = pick(rng, 0, 6);
    const int32_t cols = pick(rng, 0, 3);
    const int32_t base = pick(rng, 0, 1);
    const double twin[2] = {static_cast<double>(pick(rng, -5, 5)),
                            static_cast<double>(pick(rng, -5, 15))};
    const SpikeWindow window = spike_window(twin);
    if (window.status != SpikeWindowStatus::ok) continue;
    std::vector<double> spinds(static_cast<size_t>(pick(rng, 0, 12)));
    for (double &t : spinds) t = uniform(rng, -8.0, 20.0);
    if (chance(rng, 10) && !spinds.empty()) spinds[0] = kNaN;
    const std::vector<double> ids(spinds.size(), base);
    const int32_t b = static_cast<int32_t>(spinds.size());
    std::vector<double> h(static_cast<size_t>(taps) * cols);
    for (double &v : h) v = random_value(rng);
    std::vector<double> r(static_cast<size_t>(window.rows) * cols);
    for (double &v : r) v = random_value(rng);
    std::vector<double> start_y(r.size());
    for (double &v : start_y) v = random_value(rng);
    std::vector<double> start_g(h.size());
    for (double &v : start_g) v = random_value(rng);

    std::vector<double> y = start_y;
    std::vector<double> expected_y = start_y;
    spike_filter_pop(spinds.data(), ids.data(), b, view_of(h, taps, cols), twin,
                     1.0, base, view_of(y, window.rows, cols));
    spike_filter_sum(spinds.data(), b, view_of(h, taps, cols), twin,
                     view_of(expected_y, window.rows, cols));
    EXPECT_TRUE(same_bits_as(y, expected_y, window.rows)) << "case " << index;
    std::vector<double> g = start_g;
    std::vector<double> expected_g = start_g;
    spike_filter_pop_adjoint(spinds.data(), ids.data(), b,
                             view_of(r, window.rows, cols), twin, taps, 1.0,
                             base, view_of(g, taps, cols));
    spike_filter_sum_adjoint(spinds.data(), b, view_of(r, window.rows, cols),
                             twin, taps, view_of(expected_g, taps, cols));
    EXPECT_TRUE(same_bits_as(g, expected_g, taps)) << "case " << index;
  }
}

// An id the rule refuses, anywhere in the list (after the scan's stop too),
// or a source count or column count it refuses: neither kernel writes.
TEST(SpikeFilterPop, RefusedSourcesWriteNothing) {
  struct Refused {
    const char *name;
    double id;  // the last of three ids, base 1
    double nsources;
    int32_t filter_cols;
  };
  const Refused cases[] = {
      {"id NaN", kNaN, 2, 4},
      {"id zero", 0.0, 2, 4},
      {"id past N", 3.0, 2, 4},
      {"id fractional", 1.5, 2, 4},
      {"id -Inf", -kInf, 2, 4},
      {"nsources 0", 1.0, 0.0, 4},
      {"nsources 1.5", 1.0, 1.5, 4},
      {"nsources NaN", 1.0, kNaN, 4},
      {"columns not a multiple", 1.0, 3.0, 4},
  };
  const double twin[2] = {0.0, 3.0};
  const std::vector<double> spinds = {0.0, 1.0, 50.0};
  for (const Refused &c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<double> ids = {1.0, 2.0, c.id};
    std::vector<double> h(static_cast<size_t>(2) * c.filter_cols, 1.0);
    std::vector<double> y(8, kSentinel);
    spike_filter_pop(spinds.data(), ids.data(), 3, view_of(h, 2, c.filter_cols),
                     twin, c.nsources, 1, view_of(y, 4, 2));
    EXPECT_TRUE(untouched(y));
    std::vector<double> r(8, 1.0);
    std::vector<double> g(static_cast<size_t>(2) * c.filter_cols, kSentinel);
    spike_filter_pop_adjoint(spinds.data(), ids.data(), 3, view_of(r, 4, 2),
                             twin, 2.0, c.nsources, 1,
                             view_of(g, 2, c.filter_cols));
    EXPECT_TRUE(untouched(g));
  }
}

}  // namespace
