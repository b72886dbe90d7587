// The module tentfill2 called through the stand-in host: messages, refusals
// that create nothing, and results equal to the reference's bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "bad_arrays.h"
#include "gateway_test_support.h"
#include "reference_kernels.h"

namespace {

const char kArgCountMessage[] = "tentfill needs 2 input args: x, nbns";
const char kXClassMessage[] = "x must be a full (non-sparse) double array";
const char kNbnsClassMessage[] =
    "nbns must be a full (non-sparse) double array";
const char kNbnsEmptyMessage[] =
    "nbns is empty; it must hold the number of fine bins per "
    "coarse bin";
const char kXDimsMessage[] = "x has more than 2^31 - 1 rows or columns";
const char kNbnsValueMessage[] =
    "nbns must be a number greater than -1 and less than 2^31 (not "
    "NaN or Inf)";
const char kRowsOverflowMessage[] =
    "the result would have more than 2^31 - 1 rows (size(x, 1) * "
    "fix(nbns))";

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr size_t kTwo31 = size_t{1} << 31;

CallOutcome tentfill2(const mxArray *x, const mxArray *nbns, int nlhs = 1) {
  return call_module(tentfill2_module(), {x, nbns}, nlhs);
}

// The reference result for an m x n matrix (not the kernel: a module built
// on a wrong kernel must not agree with itself here).
std::vector<double> reference_result(size_t m, size_t n,
                                     const std::vector<double> &values,
                                     double nbns, int32_t *output_rows) {
  int32_t bins = 0;
  EXPECT_TRUE(reference_bins_per_sample(nbns, &bins));
  *output_rows = static_cast<int32_t>(
      reference_upsample_rows(static_cast<int32_t>(m), bins));
  std::vector<double> y(static_cast<size_t>(*output_rows) * n);
  reference_upsample(values.data(), static_cast<int32_t>(m),
                     static_cast<int32_t>(n), nbns, y.data());
  return y;
}

TEST(Tentfill2Gateway, WrongArgumentCountIsRefusedBeforeAnyArgumentIsRead) {
  const StandinArray x = column({1, 2, 3});
  const StandinArray nbns = scalar(4);
  const std::vector<std::vector<const mxArray *>> cases = {
      {},
      {x.get()},
      {x.get(), nbns.get(), nbns.get()},
      {nbns.get(), x.get(), x.get(), x.get()}};
  for (const auto &args : cases) {
    SCOPED_TRACE(args.size());
    const CallOutcome outcome = call_module(tentfill2_module(), args);
    expect_refusal(outcome, kArgCountMessage);
    EXPECT_EQ(outcome.host_queries, 0);
  }
}

TEST(Tentfill2Gateway, SmallResultsByHand) {
  struct Case {
    std::vector<size_t> dims;
    std::vector<double> x;
    double nbns;
    size_t rows, cols;
    std::vector<double> expected;
  };
  const std::vector<Case> cases = {
      // E = 2, G = 1, h = 0.5: head (2h)x0, tail (1h)x_last.
      {{1, 1}, {1}, 2, 2, 1, {1, 0.5}},
      // One column: interior ((1-k) a + (k+1) b) * h.
      {{2, 1}, {2, 4}, 2, 4, 1, {2, 3, 4, 2}},
      // One row, two columns: each column is a head ramp and a tail ramp.
      {{1, 2}, {2, 4}, 2, 2, 2, {2, 1, 4, 2}},
      // The two arithmetic forms differ in the last bit: the module must
      // pick the one-column form for one column only.
      {{2, 1},
       {0.1, 0.7},
       3,
       6,
       1,
       {0.06666666666666667, 0.1, 0.29999999999999993, 0.5, 0.6999999999999998,
        0.4666666666666666}},
      {{2, 2},
       {0.1, 0.7, 0.1, 0.7},
       3,
       6,
       2,
       {0.06666666666666667, 0.1, 0.3, 0.49999999999999994, 0.7,
        0.4666666666666666, 0.06666666666666667, 0.1, 0.3, 0.49999999999999994,
        0.7, 0.4666666666666666}},
      // E = 1: the samples themselves.
      {{3, 1}, {5, -6, 7}, 1, 3, 1, {5, -6, 7}},
      // nbns 1.5: E = 1 while h = 1/1.5.
      {{1, 1}, {3}, 1.5, 1, 1, {(1.0 * (1.0 / 1.5)) * 3}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.nbns);
    const StandinArray x = doubles(c.dims, c.x);
    const StandinArray nbns = scalar(c.nbns);
    expect_result(tentfill2(x.get(), nbns.get()), c.rows, c.cols, c.expected);
  }
}

TEST(Tentfill2Gateway, RandomInputsMatchTheReferenceBitForBit) {
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<size_t> rows(1, 12);
  std::uniform_int_distribution<size_t> cols(1, 4);
  const double bin_counts[] = {1, 2, 3, 4, 5, 7, 8, 10, 2.5, 3.7, 7.999, 1.25};
  std::uniform_int_distribution<size_t> pick(0, std::size(bin_counts) - 1);
  for (int trial = 0; trial < 300; ++trial) {
    const size_t m = rows(rng);
    const size_t n = trial % 3 == 0 ? 1 : cols(rng);
    const double nbns_value = bin_counts[pick(rng)];
    const std::vector<double> values = random_values(rng, m * n);
    SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << m << "x"
                                    << n << ", nbns " << nbns_value);
    const StandinArray x = doubles({m, n}, values);
    const StandinArray nbns = scalar(nbns_value);
    int32_t output_rows = 0;
    const std::vector<double> expected =
        reference_result(m, n, values, nbns_value, &output_rows);
    expect_result(tentfill2(x.get(), nbns.get()),
                  static_cast<size_t>(output_rows), n, expected);
    EXPECT_EQ(first_bit_difference(values, standin_double_values(x.get())), -1)
        << "x was modified";
  }
}

TEST(Tentfill2Gateway, ArgumentsReadAsTheirRealDoubleData) {
  std::mt19937_64 rng(7);
  const std::vector<double> values = random_values(rng, 12);
  const StandinArray x = doubles({4, 3}, values);
  const StandinArray nbns = scalar(4);
  const CallOutcome reference = tentfill2(x.get(), nbns.get());
  ASSERT_TRUE(reference.ok) << reference.message;
  const std::vector<double> expected =
      standin_double_values(reference.result.get());

  // Complex arguments: only the real part counts.
  StandinArray complex_x(
      standin_create_array(StandinClass::double_class, {4, 3}, mxCOMPLEX));
  std::memcpy(standin_real_data(complex_x.get()), values.data(),
              values.size() * sizeof(double));
  const std::vector<double> imaginary = random_values(rng, 12);
  std::memcpy(standin_imag_data(complex_x.get()), imaginary.data(),
              imaginary.size() * sizeof(double));
  StandinArray complex_nbns(
      standin_create_array(StandinClass::double_class, {1, 1}, mxCOMPLEX));
  static_cast<double *>(standin_real_data(complex_nbns.get()))[0] = 4;
  static_cast<double *>(standin_imag_data(complex_nbns.get()))[0] = 9;

  // [4 7] uses 4; an N-d x [4 3 1 1] or [4 1 3] reads as 4 x 3.
  const StandinArray nbns_pair = row({4, 7});
  const StandinArray nbns_column = column({4, -3});
  const StandinArray x_nd = doubles({4, 1, 3}, values);
  const StandinArray x_singletons = doubles({4, 3, 1, 1}, values);

  struct Case {
    const char *name;
    const mxArray *x;
    const mxArray *nbns;
    int nlhs;
  };
  const Case cases[] = {
      {"complex x", complex_x.get(), nbns.get(), 1},
      {"complex nbns", x.get(), complex_nbns.get(), 1},
      {"nbns [4 7]", x.get(), nbns_pair.get(), 1},
      {"nbns [4; -3]", x.get(), nbns_column.get(), 1},
      {"x 4x1x3", x_nd.get(), nbns.get(), 1},
      {"x 4x3x1x1", x_singletons.get(), nbns.get(), 1},
      {"nlhs 0", x.get(), nbns.get(), 0},
      {"nlhs 3", x.get(), nbns.get(), 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    expect_result(tentfill2(c.x, c.nbns, c.nlhs), 16, 3, expected);
  }
}

TEST(Tentfill2Gateway, EmptyShapesGiveEmptyResults) {
  struct Case {
    std::vector<size_t> x_dims;
    double nbns;
    size_t rows, cols;
  };
  const Case cases[] = {
      // -1 < nbns < 1: E = 0, no rows but all the columns.
      {{3, 2}, -0.99, 0, 2},
      {{3, 2}, -0.5, 0, 2},
      {{3, 2}, -0.0, 0, 2},
      {{3, 2}, 0.0, 0, 2},
      {{3, 2}, 0.999, 0, 2},
      // x with no rows or no columns.
      {{0, 3}, 4, 0, 3},
      {{3, 0}, 4, 12, 0},
      {{0, 0}, 4, 0, 0},
      {{2, 0, 5}, 3, 6, 0},
      // The largest row count still allowed, with no columns to fill.
      {{1, 0}, 2147483647.5, 2147483647, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.x_dims[0] << "x" << c.x_dims[1] << ", nbns " << c.nbns);
    const StandinArray x = zeros(c.x_dims);
    const StandinArray nbns = scalar(c.nbns);
    expect_result(tentfill2(x.get(), nbns.get()), c.rows, c.cols, {});
  }
}

TEST(Tentfill2Gateway, EveryNonDoubleOrSparseArgumentIsRefused) {
  const StandinArray x = column({1, 2, 3});
  const StandinArray nbns = scalar(4);
  for (const BadKind &kind : bad_kinds()) {
    SCOPED_TRACE(kind.name);
    const StandinArray bad_x = make_bad(kind, 3, 2);
    expect_refusal(tentfill2(bad_x.get(), nbns.get()), kXClassMessage);
    const StandinArray bad_nbns = make_bad(kind, 1, 1);
    expect_refusal(tentfill2(x.get(), bad_nbns.get()), kNbnsClassMessage);
  }
}

TEST(Tentfill2Gateway, NbnsValuesWithNoRowCountAreRefused) {
  const StandinArray x = column({1, 2, 3});
  const double values[] = {std::nan(""), kInf,         -kInf,        -1.0, -1.5,
                           -1e300,       2147483648.0, 2147483648.5, 1e300};
  for (double value : values) {
    SCOPED_TRACE(value);
    const StandinArray nbns = scalar(value);
    expect_refusal(tentfill2(x.get(), nbns.get()), kNbnsValueMessage);
  }
}

TEST(Tentfill2Gateway, EmptyNbnsIsRefused) {
  const StandinArray x = column({1, 2, 3});
  for (const std::vector<size_t> &dims :
       {std::vector<size_t>{0, 0}, {1, 0}, {0, 1}, {0, 3}, {2, 0, 4}}) {
    SCOPED_TRACE(testing::Message() << dims[0] << "x" << dims[1]);
    const StandinArray nbns = zeros(dims);
    expect_refusal(tentfill2(x.get(), nbns.get()), kNbnsEmptyMessage);
  }
}

TEST(Tentfill2Gateway, ResultRowsBeyondInt32AreRefused) {
  struct Case {
    std::vector<size_t> x_dims;
    double nbns;
  };
  const Case cases[] = {
      {{65536, 1}, 32768},     // exactly 2^31 rows
      {{2, 0}, 1073741824},    // 2^31 rows of no columns
      {{3, 1}, 2147483647},    // m * E wraps around to a small count
      {{4, 2}, 1073741824.5},  // m * E wraps around to 0
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.x_dims[0] << " rows, nbns " << c.nbns);
    const StandinArray x = zeros(c.x_dims);
    const StandinArray nbns = scalar(c.nbns);
    expect_refusal(tentfill2(x.get(), nbns.get()), kRowsOverflowMessage);
  }
}

TEST(Tentfill2Gateway, XDimensionsBeyondInt32AreRefused) {
  const StandinArray nbns = scalar(4);
  for (const std::vector<size_t> &dims :
       {std::vector<size_t>{kTwo31, 1},
        {1, kTwo31},
        {0, kTwo31},
        {kTwo31, 0},
        {size_t{1} << 40, 1},
        // 2^32 columns: taken as a 32-bit count this would be 0.
        {1, size_t{1} << 16, size_t{1} << 16}}) {
    SCOPED_TRACE(testing::Message() << dims[0] << "x" << dims[1]);
    const StandinArray x(
        standin_create_huge_array(StandinClass::double_class, dims, 0));
    expect_refusal(tentfill2(x.get(), nbns.get()), kXDimsMessage);
  }
}

TEST(Tentfill2Gateway, OnlyTheFirstValueOfAHugeNbnsIsRead) {
  const StandinArray x = column({1, 2});
  StandinArray nbns(
      standin_create_huge_array(StandinClass::double_class, {kTwo31, 2}, 1));
  static_cast<double *>(standin_real_data(nbns.get()))[0] = 2;
  expect_result(tentfill2(x.get(), nbns.get()), 4, 1, {1, 1.5, 2, 1});
}

}  // namespace

namespace {

// Both counts fit in 32 bits, their product in bytes does not fit in the
// address space: refused before the host is asked for the result.
TEST(Tentfill2Gateway, ResultsTooLargeToAddressAreRefused) {
  const StandinArray x(standin_create_huge_array(StandinClass::double_class,
                                                 {1, kTwo31 - 1}, 0));
  const StandinArray nbns = scalar(2147483647);
  expect_refusal(tentfill2(x.get(), nbns.get()),
                 "the result would be larger than this process can address "
                 "(rows x columns x 8 bytes)");
}

}  // namespace
