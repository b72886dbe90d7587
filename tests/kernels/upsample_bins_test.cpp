// Exact-value tests of upsample_bins, its adjoint and their size rules
// (tables, and seeded comparisons with the reference rules over wide ranges).
#include "upsampler/upsample_bins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel_test_util.h"
#include "upsampler/upsample_bins_adjoint.h"

using namespace spike_bins;

namespace {

struct UpsampleCase {
  const char *name;
  double nbns;
  int32_t rows;                  // m
  int32_t cols;                  // n
  std::vector<double> x;         // column-major, m x n
  std::vector<double> expected;  // column-major, m*E x n
};

void PrintTo(const UpsampleCase &c, std::ostream *os) { *os << c.name; }

// Runs the kernel into a sentinel-filled buffer with guard elements after
// the output and checks the output bits and that the guards are untouched.
using UpsampleExact = testing::TestWithParam<UpsampleCase>;

TEST_P(UpsampleExact, GivesTheExpectedBits) {
  const UpsampleCase &c = GetParam();
  const UpsampleShape shape = upsample_output_shape(c.rows, c.nbns);
  ASSERT_EQ(shape.status, UpsampleShapeStatus::ok);
  const size_t size = static_cast<size_t>(shape.output_rows) * c.cols;
  ASSERT_EQ(size, c.expected.size());
  std::vector<double> x = c.x;
  std::vector<double> buffer(size + 4, kSentinel);
  upsample_bins(view_of(x, c.rows, c.cols), c.nbns,
                view_of(buffer, shape.output_rows, c.cols));
  const std::vector<double> output(buffer.begin(), buffer.begin() + size);
  EXPECT_TRUE(same_bits_as(output, c.expected, shape.output_rows));
  EXPECT_TRUE(untouched({buffer.begin() + size, buffer.end()})) << "guard";
  EXPECT_EQ(x, c.x) << "input modified";
}

const std::vector<UpsampleCase> kExactCases = {
    // E = 4, G = 2: a lands on row 1, b on row 5.
    {"four bins, one column",
     4.0,
     2,
     1,
     {4.0, 8.0},
     {3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 6.0, 4.0}},
    {"four bins, two columns",
     4.0,
     2,
     2,
     {4.0, 8.0, -1.0, 0.5},
     {3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 6.0, 4.0,  //
      -0.75, -1.0, -0.625, -0.25, 0.125, 0.5, 0.375, 0.25}},
    // The two arithmetic forms differ in the last bit of the interior.
    {"0.1, 0.7 by 3, one column",
     3.0,
     2,
     1,
     {0.1, 0.7},
     {0.06666666666666667, 0.1, 0.29999999999999993, 0.5, 0.6999999999999998,
      0.4666666666666666}},
    {"0.1, 0.7 by 3, two equal columns",
     3.0,
     2,
     2,
     {0.1, 0.7, 0.1, 0.7},
     {0.06666666666666667, 0.1, 0.3, 0.49999999999999994, 0.7,
      0.4666666666666666,  //
      0.06666666666666667, 0.1, 0.3, 0.49999999999999994, 0.7,
      0.4666666666666666}},
    // A landing row is (0 * x[j-1] + 3 * x[j]) * h, not x[j].
    {"landing row off by one bit",
     3.0,
     3,
     1,
     {0.5, 1.25, -3.7619803885035443},
     {0.3333333333333333, 0.5, 0.75, 1.0, 1.25, -0.4206601295011814,
      -2.0913202590023627, -3.761980388503544, -2.5079869256690293}},
    {"two bins", 2.0, 2, 1, {0.1, 0.7}, {0.1, 0.39999999999999997, 0.7, 0.35}},
    // h comes from nbns (0.4), not from E (2).
    {"fractional 2.5",
     2.5,
     3,
     1,
     {1.0, 2.0, 3.0},
     {0.8, 1.2000000000000002, 1.6, 2.0, 2.4000000000000004,
      1.2000000000000002}},
    {"fractional 3.999, one column",
     3.999,
     3,
     1,
     {0.1, 0.7, -2.5},
     {0.050012503125781455, 0.07501875468867218, 0.2250562640660165,
      0.37509377344336087, 0.5251312828207051, -0.275068767191798,
      -1.075268817204301, -1.8754688672168043, -1.2503125781445363}},
    {"fractional 3.999, two columns",
     3.999,
     3,
     2,
     {0.1, 0.7, -2.5, 0.1, 0.7, -2.5},
     {0.050012503125781455, 0.07501875468867218, 0.2250562640660165,
      0.3750937734433608, 0.5251312828207052, -0.27506876719179807,
      -1.0752688172043012, -1.8754688672168043, -1.2503125781445363,
      //
      0.050012503125781455, 0.07501875468867218, 0.2250562640660165,
      0.3750937734433608, 0.5251312828207052, -0.27506876719179807,
      -1.0752688172043012, -1.8754688672168043, -1.2503125781445363}},
    {"fractional 1.5 with a subnormal",
     1.5,
     3,
     1,
     {0.3, -0.0, 1e-310},
     {0.19999999999999998, 0.0, 6.666666666667e-311}},
    // E = 1: 0 * x[j-1] + 1 * x[j] turns a -0.0 after a finite into +0.0;
    // a leading -0.0 is only scaled and stays -0.0.
    {"one bin keeps values, -0.0 becomes +0.0",
     1.0,
     3,
     1,
     {-0.0, 2.0, -0.0},
     {-0.0, 2.0, 0.0}},
    {"one bin, two columns",
     1.0,
     3,
     2,
     {-0.0, 2.0, -0.0, 1.5, -0.0, -0.0},
     {-0.0, 2.0, 0.0, 1.5, 0.0, -0.0}},
    // A zero weight still multiplies its sample: 0 * Inf = NaN on the row
    // where the next sample lands.
    {"zero weight times Inf, three bins",
     3.0,
     3,
     1,
     {1.0, kInf, 3.0},
     {0.6666666666666666, 1.0, kInf, kInf, kInf, kInf, kInf, kNaN, 2.0}},
    {"zero weight times Inf, one bin", 1.0, 2, 1, {kInf, 2.0}, {kInf, kNaN}},
    // One row: head ramp then tail ramp, in either form.
    {"one row, one column",
     3.0,
     1,
     1,
     {0.1},
     {0.06666666666666667, 0.1, 0.06666666666666667}},
    {"one row, three columns",
     3.0,
     1,
     3,
     {0.1, -2.0, kInf},
     {0.06666666666666667, 0.1, 0.06666666666666667,   //
      -1.3333333333333333, -2.0, -1.3333333333333333,  //
      kInf, kInf, kInf}},
};

INSTANTIATE_TEST_SUITE_P(UpsampleBins, UpsampleExact,
                         testing::ValuesIn(kExactCases),
                         case_name<UpsampleCase>);

// With nbns = 49 the head weight 49 * (1/49) itself rounds below 1.
TEST(UpsampleBins, HeadWeightForFortyNineBins) {
  std::vector<double> x = {1.0};
  std::vector<double> y(49, kSentinel);
  upsample_bins(view_of(x, 1, 1), 49.0, view_of(y, 49, 1));
  EXPECT_EQ(y[24], 0.9999999999999999);
  EXPECT_EQ(y[0], 0.5102040816326531);  // (25 * h) * 1
  EXPECT_EQ(y[23], y[25]);              // (48 * h) on both sides
}

struct ShapeCase {
  const char *name;
  int32_t rows;
  double nbns;
  UpsampleShapeStatus status;
  int32_t bins;         // checked when ok
  int32_t output_rows;  // checked when ok
};

void PrintTo(const ShapeCase &c, std::ostream *os) { *os << c.name; }

using S = UpsampleShapeStatus;
const ShapeCase kShapeCases[] = {
    {"NaN", 3, kNaN, S::bad_bin_count, 0, 0},
    {"plus Inf", 3, kInf, S::bad_bin_count, 0, 0},
    {"minus Inf", 3, -kInf, S::bad_bin_count, 0, 0},
    {"minus 1", 3, -1.0, S::bad_bin_count, 0, 0},
    {"just below minus 1", 3, -1.0000000000000002, S::bad_bin_count, 0, 0},
    {"minus 1e300", 3, -1e300, S::bad_bin_count, 0, 0},
    {"just above minus 1", 3, -0.9999999999999999, S::ok, 0, 0},
    {"minus 0.5", 3, -0.5, S::ok, 0, 0},
    {"minus 0.0", 3, -0.0, S::ok, 0, 0},
    {"0.5", 3, 0.5, S::ok, 0, 0},
    {"just below 1", 3, 0.9999999999999999, S::ok, 0, 0},
    {"1", 3, 1.0, S::ok, 1, 3},
    {"2.5 truncates", 3, 2.5, S::ok, 2, 6},
    {"3 by 3", 3, 3.0, S::ok, 3, 9},
    {"7.9 truncates", 2, 7.9, S::ok, 7, 14},
    {"no input rows", 0, 5.0, S::ok, 5, 0},
    {"no input rows, 7.5", 0, 7.5, S::ok, 7, 0},
    {"largest below 2^31", 1, 2147483647.9999998, S::ok, INT32_MAX, INT32_MAX},
    {"largest below 2^31, two rows", 2, 2147483647.9999998, S::too_many_rows, 0,
     0},
    // Bin counts of a fuzz finding (see writes_nothing_test.cpp).
    {"2147483647.5", 1, 2147483647.5, S::ok, INT32_MAX, INT32_MAX},
    {"2147483647", 1, 2147483647.0, S::ok, INT32_MAX, INT32_MAX},
    {"2147483521", 1, 2147483521.0, S::ok, 2147483521, 2147483521},
    {"2147483520", 1, 2147483520.0, S::ok, 2147483520, 2147483520},
    {"2147483519", 1, 2147483519.0, S::ok, 2147483519, 2147483519},
    {"2^31", 1, 2147483648.0, S::bad_bin_count, 0, 0},
    {"2^31, no rows", 0, 2147483648.0, S::bad_bin_count, 0, 0},
    {"m * E = 2^31", 65536, 32768.0, S::too_many_rows, 0, 0},
    {"m * E just fits", 65535, 32768.0, S::ok, 32768, 2147450880},
    {"m * E = 46341^2", 46341, 46341.0, S::too_many_rows, 0, 0},
    {"m * E = 46340 * 46341", 46340, 46341.5, S::ok, 46341, 2147441940},
    {"INT32_MAX rows, E = 1", INT32_MAX, 1.0, S::ok, 1, INT32_MAX},
    {"INT32_MAX rows, E = 2", INT32_MAX, 2.0, S::too_many_rows, 0, 0},
    {"negative input rows", -1, 3.0, S::bad_input_rows, 0, 0},
};

using UpsampleSizeRule = testing::TestWithParam<ShapeCase>;

TEST_P(UpsampleSizeRule, GivesTheExpectedShape) {
  const ShapeCase &c = GetParam();
  const UpsampleShape shape = upsample_output_shape(c.rows, c.nbns);
  ASSERT_EQ(shape.status, c.status);
  if (c.status == S::ok) {
    EXPECT_EQ(shape.bins_per_sample, c.bins);
    EXPECT_EQ(shape.output_rows, c.output_rows);
  }
}

INSTANTIATE_TEST_SUITE_P(UpsampleOutputShape, UpsampleSizeRule,
                         testing::ValuesIn(kShapeCases), case_name<ShapeCase>);

// A bin count from every region of the rule: whole and fractional, one ulp
// from a whole number, E = 0, beyond 2^31 and outside the domain.
double random_nbns(Rng &rng) {
  const int kind = pick(rng, 0, 99);
  if (kind < 35) return pick(rng, 1, 8);
  if (kind < 45) return pick(rng, 9, 300);
  if (kind < 70) return uniform(rng, 1.0, 12.0);
  if (kind < 78)
    return std::nextafter(pick(rng, 1, 8), chance(rng, 50) ? 0.0 : kInf);
  if (kind < 88) return uniform(rng, -1.0, 1.0);
  const double bad[] = {kNaN,
                        kInf,
                        -kInf,
                        -1.0,
                        -1.0000000000000002,
                        uniform(rng, -1e6, -1.0),
                        2147483648.0,
                        1e300,
                        -1e300};
  return bad[pick(rng, 0, 8)];
}

// The rule against the reference's E and m * E, seeded, over row counts up
// to INT32_MAX and bin counts up to 3e9.
TEST(UpsampleOutputShape, MatchesReferenceOverWideRanges) {
  for (int index = 0; index < kRandomCases; ++index) {
    Rng rng = case_rng(index);
    const int32_t rows =
        chance(rng, 50) ? pick(rng, 0, INT32_MAX) : pick(rng, 0, 6);
    const double nbns =
        chance(rng, 50) ? random_nbns(rng) : uniform(rng, -2.0, 3e9);
    SCOPED_TRACE(testing::Message() << "case " << index << ": m " << rows
                                    << ", nbns " << describe_double(nbns));
    const UpsampleShape shape = upsample_output_shape(rows, nbns);
    int32_t bins = 0;
    if (!reference_bins_per_sample(nbns, &bins)) {
      ASSERT_EQ(shape.status, S::bad_bin_count);
      continue;
    }
    const int64_t output_rows = reference_upsample_rows(rows, bins);
    if (output_rows > INT32_MAX) {
      ASSERT_EQ(shape.status, S::too_many_rows);
      continue;
    }
    ASSERT_EQ(shape.status, S::ok);
    ASSERT_EQ(shape.bins_per_sample, bins);
    ASSERT_EQ(shape.output_rows, output_rows);
  }
}

// --- The adjoint ------------------------------------------------------------

// r is F x n (F = m * E), expected g is m x n; expected values from
// tests/golden/make_golden.py's upsample_bins_adjoint.
using UpsampleAdjointExact = testing::TestWithParam<UpsampleCase>;

TEST_P(UpsampleAdjointExact, GivesTheExpectedBits) {
  const UpsampleCase &c = GetParam();
  const UpsampleAdjointShape shape = upsample_adjoint_shape(c.rows, c.nbns);
  ASSERT_EQ(shape.status, UpsampleAdjointShapeStatus::ok);
  const size_t size = static_cast<size_t>(shape.output_rows) * c.cols;
  ASSERT_EQ(size, c.expected.size());
  std::vector<double> r = c.x;
  std::vector<double> buffer(size + 4, kSentinel);
  upsample_bins_adjoint(view_of(r, c.rows, c.cols), c.nbns,
                        view_of(buffer, shape.output_rows, c.cols));
  const std::vector<double> output(buffer.begin(), buffer.begin() + size);
  EXPECT_TRUE(same_bits_as(output, c.expected, shape.output_rows));
  EXPECT_TRUE(untouched({buffer.begin() + size, buffer.end()})) << "guard";
  EXPECT_TRUE(same_bits_as(r, c.x, c.rows)) << "input modified";
  std::vector<double> reference(size, kSentinel);
  reference_upsample_adjoint(c.x.data(), c.rows, c.cols, c.nbns,
                             reference.data());
  EXPECT_TRUE(same_bits_as(reference, c.expected, shape.output_rows))
      << "reference";
}

std::vector<double> ramp(int count, double step, double start) {
  std::vector<double> values;
  for (int i = 0; i < count; ++i) values.push_back(step * i + start);
  return values;
}

std::vector<double> reciprocals(int count) {
  std::vector<double> values;
  for (int i = 0; i < count; ++i) values.push_back(1.0 / (i + 3));
  return values;
}

const std::vector<UpsampleCase> kAdjointCases = {
    // E = 4, G = 2, h = 0.25: sample 0 takes rows 0 .. 5 with weights
    // 3 4 3 2 1 0, sample 1 rows 2 .. 7 with 1 2 3 4 3 2.
    {"four bins, one column", 4.0, 8, 1, ramp(8, 1.0, 1.0), {8.25, 21.75}},
    {"four bins, two columns",
     4.0,
     8,
     2,
     {1, 2, 3, 4, 5, 6, 7, 8, 0.5, -1, 0.25, 2, -3, 0.1, 0.7, 1e-3},
     {8.25, 21.75, -0.1875, -0.562}},
    // E = 1: sample 0 takes row 1 with weight 0, and 0 * Inf is NaN.
    {"one bin, a zero weight still multiplies",
     1.0,
     3,
     1,
     {1.0, kInf, 2.0},
     {kNaN, kInf, 2.0}},
    // acc starts at +0.0: -0.0 products leave +0.0.
    {"minus zeros sum to plus zero", 1.0, 2, 1, {-0.0, -0.0}, {0.0, 0.0}},
    {"2.5 bins: E = 2, h = 0.4",
     2.5,
     4,
     1,
     {1.0, 2.0, 3.0, 4.0},
     {1.6, 4.800000000000001}},
    {"one sample: head then tail",
     3.0,
     3,
     1,
     {0.1, 0.2, 0.7},
     {0.7333333333333333}},
    {"twelve samples: a block of 8, one of 2, both ends",
     3.0,
     36,
     1,
     ramp(36, 0.1, -1.3),
     {-3.1333333333333333, -2.6999999999999997, -1.7999999999999998, -0.9,
      1.5265566588595902e-16, 0.9, 1.8, 2.7, 3.6, 4.500000000000001, 5.4,
      5.533333333333334}},
    {"seven samples, two columns: blocks of 4 and 1",
     2.0,
     14,
     2,
     reciprocals(28),
     {0.4583333333333333, 0.4083333333333333, 0.28869047619047616,
      0.2236111111111111, 0.18257575757575759, 0.1543040293040293,
      0.13363095238095238, 0.08660130718954248, 0.1054093567251462,
      0.09534632034632035, 0.08703886693017128, 0.08006410256410257,
      0.07412494912494913, 0.06900656814449918}},
    {"NaN and Inf reach only their samples",
     3.0,
     12,
     1,
     {1, 2, 3, kNaN, 5, 6, 7, 8, 9, 10, -kInf, 12},
     {kNaN, kNaN, kNaN, -kInf}},
};

INSTANTIATE_TEST_SUITE_P(UpsampleBinsAdjoint, UpsampleAdjointExact,
                         testing::ValuesIn(kAdjointCases),
                         case_name<UpsampleCase>);

struct AdjointShapeCase {
  const char *name;
  int32_t rows;  // F
  double nbns;
  UpsampleAdjointShapeStatus status;
  int32_t bins;         // checked when ok
  int32_t output_rows;  // checked when ok
};

void PrintTo(const AdjointShapeCase &c, std::ostream *os) { *os << c.name; }

using A = UpsampleAdjointShapeStatus;
const AdjointShapeCase kAdjointShapeCases[] = {
    {"NaN", 6, kNaN, A::bad_bin_count, 0, 0},
    {"plus Inf", 6, kInf, A::bad_bin_count, 0, 0},
    {"minus Inf", 6, -kInf, A::bad_bin_count, 0, 0},
    {"just below 1", 6, 0.9999999999999999, A::bad_bin_count, 0, 0},
    {"0.5 (E = 0)", 0, 0.5, A::bad_bin_count, 0, 0},
    {"0 (E = 0)", 0, 0.0, A::bad_bin_count, 0, 0},
    {"minus 2", 6, -2.0, A::bad_bin_count, 0, 0},
    {"2^31", 0, 2147483648.0, A::bad_bin_count, 0, 0},
    {"1e300", 6, 1e300, A::bad_bin_count, 0, 0},
    {"1", 6, 1.0, A::ok, 1, 6},
    {"2.5 truncates", 6, 2.5, A::ok, 2, 3},
    {"3.999 truncates", 6, 3.999, A::ok, 3, 2},
    {"no rows", 0, 7.5, A::ok, 7, 0},
    {"not a multiple of E", 7, 3.0, A::bad_input_rows, 0, 0},
    {"fewer rows than E", 2, 3.0, A::bad_input_rows, 0, 0},
    {"negative rows", -3, 3.0, A::bad_input_rows, 0, 0},
    {"largest below 2^31", INT32_MAX, 2147483647.9999998, A::ok, INT32_MAX, 1},
    {"INT32_MAX rows, E = 1", INT32_MAX, 1.0, A::ok, 1, INT32_MAX},
    {"INT32_MAX rows, E = 2", INT32_MAX, 2.0, A::bad_input_rows, 0, 0},
};

using UpsampleAdjointSizeRule = testing::TestWithParam<AdjointShapeCase>;

TEST_P(UpsampleAdjointSizeRule, GivesTheExpectedShape) {
  const AdjointShapeCase &c = GetParam();
  const UpsampleAdjointShape shape = upsample_adjoint_shape(c.rows, c.nbns);
  ASSERT_EQ(shape.status, c.status);
  if (c.status == A::ok) {
    EXPECT_EQ(shape.bins_per_sample, c.bins);
    EXPECT_EQ(shape.output_rows, c.output_rows);
  }
}

INSTANTIATE_TEST_SUITE_P(UpsampleAdjointShape, UpsampleAdjointSizeRule,
                         testing::ValuesIn(kAdjointShapeCases),
                         case_name<AdjointShapeCase>);

// The rule against the reference's E and F / E, seeded; row counts are
// often multiples of the bin count.
TEST(UpsampleAdjointShape, MatchesReferenceOverWideRanges) {
  for (int index = 0; index < kRandomCases; ++index) {
    Rng rng = case_rng(index);
    const double nbns =
        chance(rng, 50) ? random_nbns(rng) : uniform(rng, -2.0, 3e9);
    int32_t rows = chance(rng, 50) ? pick(rng, -3, INT32_MAX) : pick(rng, 0, 9);
    if (chance(rng, 40) && nbns >= 1.0 && nbns < 2147483648.0) {
      const int32_t bins = static_cast<int32_t>(nbns);
      rows = bins * pick(rng, 0, INT32_MAX / bins);
    }
    SCOPED_TRACE(testing::Message() << "case " << index << ": F " << rows
                                    << ", nbns " << describe_double(nbns));
    const UpsampleAdjointShape shape = upsample_adjoint_shape(rows, nbns);
    int32_t bins = 0;
    if (!reference_adjoint_bins_per_sample(nbns, &bins)) {
      ASSERT_EQ(shape.status, A::bad_bin_count);
      continue;
    }
    if (rows < 0 || rows % bins != 0) {
      ASSERT_EQ(shape.status, A::bad_input_rows);
      continue;
    }
    ASSERT_EQ(shape.status, A::ok);
    ASSERT_EQ(shape.bins_per_sample, bins);
    ASSERT_EQ(shape.output_rows, rows / bins);
  }
}

}  // namespace
