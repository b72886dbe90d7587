// The module trainfold_mex called through the stand-in host: messages,
// refusals that create nothing, and results equal to the reference's bit for
// bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "bad_arrays.h"
#include "gateway_test_support.h"
#include "reference_kernels.h"

namespace {

const char kArgCountMessage[] =
    "needs 3 input args:  trainfold_mex(spinds, h_currents, twin)";
const char kColumnMessage[] =
    "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!";
const char kSpindsClassMessage[] =
    "spinds must be a full (non-sparse) double array";
const char kFiltersClassMessage[] =
    "h_currents must be a full (non-sparse) double array";
const char kTwinClassMessage[] =
    "twin must be a full (non-sparse) double array";
const char kTwinCountMessage[] =
    "twin must hold two values, the first and last bin of the "
    "window";
const char kDimsMessage[] =
    "spinds or h_currents has more than 2^31 - 1 rows or "
    "columns";
const char kTwinValueMessage[] =
    "twin values must be numbers within the 32-bit integer "
    "range (not NaN or Inf)";
const char kNegativeRowsMessage[] =
    "twin(2) must be at least twin(1) - 1 (the window would "
    "have a negative number of rows)";
const char kTooManyRowsMessage[] =
    "the window twin(1) .. twin(2) has more than 2^31 - 1 bins";

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr size_t kTwo31 = size_t{1} << 31;

CallOutcome trainfold_mex(const mxArray *spinds, const mxArray *h_currents,
                          const mxArray *twin, int nlhs = 1) {
  return call_module(trainfold_mex_module(), {spinds, h_currents, twin}, nlhs);
}

// The reference result (not the kernel's); *rows receives the window's rows.
std::vector<double> reference_result(const std::vector<double> &spikes,
                                     size_t taps, size_t filters,
                                     const std::vector<double> &h,
                                     const double twin[2], int32_t *rows) {
  int32_t first = 0;
  int32_t last = 0;
  EXPECT_TRUE(reference_window_bin(twin[0], &first));
  EXPECT_TRUE(reference_window_bin(twin[1], &last));
  *rows = static_cast<int32_t>(reference_window_rows(first, last));
  std::vector<double> y(static_cast<size_t>(*rows) * filters, 0.0);
  reference_spike_sum(spikes.data(), static_cast<int32_t>(spikes.size()),
                      h.data(), static_cast<int32_t>(taps),
                      static_cast<int32_t>(filters), twin[0], twin[1],
                      y.data());
  return y;
}

TEST(TrainfoldMexGateway, WrongArgumentCountIsRefusedBeforeAnyArgumentIsRead) {
  const StandinArray spikes_row = row({1, 2, 3});
  const StandinArray h = column({1, 2});
  const StandinArray twin = row({0, 5});
  const std::vector<std::vector<const mxArray *>> cases = {
      {},
      {spikes_row.get()},
      {spikes_row.get(), h.get()},
      {spikes_row.get(), h.get(), twin.get(), twin.get()},
      {spikes_row.get(), h.get(), twin.get(), twin.get(), h.get()}};
  for (const auto &args : cases) {
    SCOPED_TRACE(args.size());
    const CallOutcome outcome = call_module(trainfold_mex_module(), args);
    expect_refusal(outcome, kArgCountMessage);
    EXPECT_EQ(outcome.host_queries, 0);
  }
}

TEST(TrainfoldMexGateway, SmallResultsByHand) {
  struct Case {
    const char *name;
    std::vector<size_t> spike_dims;
    std::vector<double> spikes;
    std::vector<size_t> h_dims;
    std::vector<double> h;
    std::vector<double> twin;
    size_t rows, cols;
    std::vector<double> expected;
  };
  const std::vector<Case> cases = {
      {"four spikes around the window",
       {4, 1},
       {8.0, 10.5, 13.2, 14.0},
       {3, 1},
       {1, 10, 100},
       {10, 13},
       4,
       1,
       {101, 10, 100, 1}},
      {"one-bin window",
       {1, 1},
       {5},
       {3, 2},
       {1, 2, 3, 4, 5, 6},
       {5, 5},
       1,
       2,
       {1, 4}},
      {"window with no bins",
       {1, 1},
       {5},
       {3, 2},
       {1, 2, 3, 4, 5, 6},
       {5, 4},
       0,
       2,
       {}},
      {"three filters",
       {1, 1},
       {1},
       {2, 3},
       {1, 2, 3, 4, 5, 6},
       {1, 2},
       2,
       3,
       {1, 2, 3, 4, 5, 6}},
      {"fractional window",
       {2, 1},
       {2.5, 9.9},
       {1, 1},
       {1},
       {2.7, 9.2},
       8,
       1,
       {1, 0, 0, 0, 0, 0, 0, 1}},
      {"column of three",
       {3, 1},
       {1, 2, 2},
       {2, 1},
       {1, 10},
       {0, 3},
       4,
       1,
       {0, 1, 12, 20}},
      {"column of three as 3x1x1",
       {3, 1, 1},
       {1, 2, 2},
       {2, 1},
       {1, 10},
       {0, 3},
       4,
       1,
       {0, 1, 12, 20}},
      {"no spikes, 0x0", {0, 0}, {}, {2, 1}, {1, 10}, {0, 2}, 3, 1, {0, 0, 0}},
      {"no spikes, 0x1", {0, 1}, {}, {2, 1}, {1, 10}, {0, 2}, 3, 1, {0, 0, 0}},
      {"rows but no column",
       {3, 0},
       {},
       {2, 1},
       {1, 10},
       {0, 2},
       3,
       1,
       {0, 0, 0}},
      {"filters without taps",
       {1, 1},
       {1},
       {0, 2},
       {},
       {0, 1},
       2,
       2,
       {0, 0, 0, 0}},
      {"no filters", {1, 1}, {1}, {3, 0}, {}, {0, 1}, 2, 0, {}},
      {"largest window, no filters",
       {0, 1},
       {},
       {3, 0},
       {},
       {1, 2147483647},
       2147483647,
       0,
       {}},
      {"largest negative window, no filters",
       {0, 1},
       {},
       {3, 0},
       {},
       {-2147483648.9, -2},
       2147483647,
       0,
       {}},
      {"twin as a column with a third value",
       {1, 1},
       {3},
       {1, 1},
       {7},
       {3, 3, 99},
       1,
       1,
       {7}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const StandinArray spikes = doubles(c.spike_dims, c.spikes);
    const StandinArray h = doubles(c.h_dims, c.h);
    const StandinArray twin = c.twin.size() == 2 ? row(c.twin) : column(c.twin);
    expect_result(trainfold_mex(spikes.get(), h.get(), twin.get()), c.rows,
                  c.cols, c.expected);
  }
}

TEST(TrainfoldMexGateway, RandomInputsMatchTheReferenceBitForBit) {
  std::mt19937_64 rng(99);
  std::uniform_int_distribution<size_t> spike_count(0, 20);
  std::uniform_int_distribution<size_t> taps(0, 5);
  std::uniform_int_distribution<size_t> filters(0, 3);
  std::uniform_real_distribution<double> time(-4.0, 30.0);
  std::uniform_real_distribution<double> start(-3.0, 15.0);
  std::uniform_real_distribution<double> length(-1.0, 15.0);
  std::uniform_int_distribution<int> pick(0, 19);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<double> spike_times(spike_count(rng));
    for (double &t : spike_times) {
      // Whole bins now and then, so that spikes share bins and hit L and U.
      t = pick(rng) < 5 ? std::trunc(time(rng)) : time(rng);
    }
    const int order = pick(rng);
    if (order >= 4) {
      std::sort(spike_times.begin(), spike_times.end());
    }
    if (order == 0 && !spike_times.empty()) {
      spike_times[spike_times.size() / 2] = std::nan("");
    }
    const size_t c = taps(rng);
    const size_t k = filters(rng);
    const std::vector<double> h_values = random_values(rng, c * k);
    const double first = start(rng);
    const double twin_values[2] = {first, first + length(rng)};
    SCOPED_TRACE(testing::Message()
                 << "trial " << trial << ": " << spike_times.size()
                 << " spikes, " << c << "x" << k << " filters, twin "
                 << twin_values[0] << " " << twin_values[1]);
    int32_t rows = 0;
    const std::vector<double> expected =
        reference_result(spike_times, c, k, h_values, twin_values, &rows);

    const StandinArray spikes = column(spike_times);
    const StandinArray h = doubles({c, k}, h_values);
    const StandinArray twin = trial % 2 == 0
                                  ? row({twin_values[0], twin_values[1]})
                                  : column({twin_values[0], twin_values[1]});
    expect_result(trainfold_mex(spikes.get(), h.get(), twin.get()),
                  static_cast<size_t>(rows), k, expected);
    EXPECT_EQ(
        first_bit_difference(spike_times, standin_double_values(spikes.get())),
        -1)
        << "spinds was modified";
    EXPECT_EQ(first_bit_difference(h_values, standin_double_values(h.get())),
              -1)
        << "h_currents was modified";
  }
}

TEST(TrainfoldMexGateway, ArgumentsReadAsTheirRealDoubleData) {
  const std::vector<double> spike_times = {0.5, 2, 2.5, 6};
  const std::vector<double> h_values = {1, 2, 3, 4, 5, 6};
  const StandinArray spikes = column(spike_times);
  const StandinArray h = doubles({3, 2}, h_values);
  const StandinArray twin = row({1, 5});
  const CallOutcome reference =
      trainfold_mex(spikes.get(), h.get(), twin.get());
  ASSERT_TRUE(reference.ok) << reference.message;
  const std::vector<double> expected =
      standin_double_values(reference.result.get());

  const auto complex_copy = [](const std::vector<size_t> &dims,
                               const std::vector<double> &real) {
    StandinArray array(
        standin_create_array(StandinClass::double_class, dims, mxCOMPLEX));
    std::memcpy(standin_real_data(array.get()), real.data(),
                real.size() * sizeof(double));
    double *imag = static_cast<double *>(standin_imag_data(array.get()));
    for (size_t i = 0; i < real.size(); ++i) {
      imag[i] = 1000.0 + static_cast<double>(i);
    }
    return array;
  };
  const StandinArray complex_spikes = complex_copy({4, 1}, spike_times);
  const StandinArray complex_h = complex_copy({3, 2}, h_values);
  const StandinArray complex_twin = complex_copy({1, 2}, {1, 5});
  // A huge twin read only through its first two values.
  StandinArray huge_twin(
      standin_create_huge_array(StandinClass::double_class, {kTwo31, 3}, 2));
  static_cast<double *>(standin_real_data(huge_twin.get()))[0] = 1;
  static_cast<double *>(standin_real_data(huge_twin.get()))[1] = 5;
  const StandinArray twin_nd = doubles({1, 1, 2}, {1, 5});

  struct Case {
    const char *name;
    const mxArray *spinds;
    const mxArray *h_currents;
    const mxArray *twin;
    int nlhs;
  };
  const Case cases[] = {
      {"complex spinds", complex_spikes.get(), h.get(), twin.get(), 1},
      {"complex h_currents", spikes.get(), complex_h.get(), twin.get(), 1},
      {"complex twin", spikes.get(), h.get(), complex_twin.get(), 1},
      {"huge twin", spikes.get(), h.get(), huge_twin.get(), 1},
      {"twin 1x1x2", spikes.get(), h.get(), twin_nd.get(), 1},
      {"nlhs 0", spikes.get(), h.get(), twin.get(), 0},
      {"nlhs 2", spikes.get(), h.get(), twin.get(), 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    expect_result(trainfold_mex(c.spinds, c.h_currents, c.twin, c.nlhs), 5, 2,
                  expected);
  }
}

TEST(TrainfoldMexGateway, SpindsWithMoreThanOneColumnIsRefused) {
  const StandinArray h = column({1, 2});
  const StandinArray twin = row({0, 5});
  for (const std::vector<size_t> &dims :
       {std::vector<size_t>{1, 3}, {0, 2}, {2, 2}, {3, 1, 2}, {0, 3, 2}}) {
    SCOPED_TRACE(testing::Message() << dims[0] << "x" << dims[1]);
    const StandinArray spikes = zeros(dims);
    expect_refusal(trainfold_mex(spikes.get(), h.get(), twin.get()),
                   kColumnMessage);
  }
  // Huge column counts, 2^32 among them (0 when taken as 32 bits), and
  // other classes: the column check comes first.
  for (const std::vector<size_t> &dims : {std::vector<size_t>{1, kTwo31},
                                          {0, size_t{1} << 32},
                                          {2, (size_t{1} << 32) + 1}}) {
    SCOPED_TRACE(testing::Message() << dims[0] << "x" << dims[1]);
    const StandinArray spikes(
        standin_create_huge_array(StandinClass::double_class, dims, 0));
    expect_refusal(trainfold_mex(spikes.get(), h.get(), twin.get()),
                   kColumnMessage);
  }
  for (const BadKind &kind : bad_kinds()) {
    SCOPED_TRACE(kind.name);
    const StandinArray spikes = make_bad(kind, 1, 3);
    expect_refusal(trainfold_mex(spikes.get(), h.get(), twin.get()),
                   kColumnMessage);
  }
}

TEST(TrainfoldMexGateway, EveryNonDoubleOrSparseArgumentIsRefused) {
  const StandinArray spikes = column({1, 2, 3});
  const StandinArray h = doubles({2, 2}, {1, 2, 3, 4});
  const StandinArray twin = row({0, 5});
  for (const BadKind &kind : bad_kinds()) {
    SCOPED_TRACE(kind.name);
    const StandinArray bad_spikes = make_bad(kind, 3, 1);
    expect_refusal(trainfold_mex(bad_spikes.get(), h.get(), twin.get()),
                   kSpindsClassMessage);
    const StandinArray bad_h = make_bad(kind, 2, 2);
    expect_refusal(trainfold_mex(spikes.get(), bad_h.get(), twin.get()),
                   kFiltersClassMessage);
    const StandinArray bad_twin = make_bad(kind, 1, 2);
    expect_refusal(trainfold_mex(spikes.get(), h.get(), bad_twin.get()),
                   kTwinClassMessage);
  }
}

TEST(TrainfoldMexGateway, TwinWithFewerThanTwoValuesIsRefused) {
  const StandinArray spikes = column({1, 2, 3});
  const StandinArray h = column({1, 2});
  for (const std::vector<size_t> &dims :
       {std::vector<size_t>{0, 0}, {1, 1}, {1, 0}, {0, 2}, {2, 0}, {1, 1, 1}}) {
    SCOPED_TRACE(testing::Message() << dims[0] << "x" << dims[1]);
    const StandinArray twin = zeros(dims);
    expect_refusal(trainfold_mex(spikes.get(), h.get(), twin.get()),
                   kTwinCountMessage);
  }
}

TEST(TrainfoldMexGateway, DimensionsBeyondInt32AreRefused) {
  const StandinArray spikes = column({1, 2, 3});
  const StandinArray h = column({1, 2});
  const StandinArray twin = row({0, 5});
  const std::vector<std::vector<size_t>> huge_dims = {
      {kTwo31, 1},
      {1, kTwo31},
      {0, kTwo31},
      {kTwo31, 0},
      // 2^32 columns: taken as a 32-bit count this would be 0.
      {2, size_t{1} << 16, size_t{1} << 16}};
  for (const std::vector<size_t> &dims : huge_dims) {
    SCOPED_TRACE(testing::Message() << dims[0] << "x" << dims[1]);
    const StandinArray huge(
        standin_create_huge_array(StandinClass::double_class, dims, 0));
    expect_refusal(trainfold_mex(spikes.get(), huge.get(), twin.get()),
                   kDimsMessage);
    if (dims.size() == 2 && dims[1] <= 1) {
      expect_refusal(trainfold_mex(huge.get(), h.get(), twin.get()),
                     kDimsMessage);
    }
  }
}

TEST(TrainfoldMexGateway, WindowsWithNoValidRowCountAreRefused) {
  const StandinArray spikes = column({1, 2, 3});
  const StandinArray h = column({1, 2});
  struct Case {
    double first, last;
    const char *message;
  };
  const double nan = std::nan("");
  const Case cases[] = {
      {nan, 5, kTwinValueMessage},
      {0, nan, kTwinValueMessage},
      {-kInf, 5, kTwinValueMessage},
      {0, kInf, kTwinValueMessage},
      {2147483648.0, 2147483648.0, kTwinValueMessage},
      {0, 2147483648.0, kTwinValueMessage},
      {-2147483649.0, 0, kTwinValueMessage},
      {0, 1e300, kTwinValueMessage},
      {5, 3, kNegativeRowsMessage},
      {0, -2, kNegativeRowsMessage},
      {2147483647, -2147483648.0, kNegativeRowsMessage},
      {0, 2147483647, kTooManyRowsMessage},
      {-1, 2147483646, kTooManyRowsMessage},
      {-2147483648.0, 2147483647, kTooManyRowsMessage},
      {-2147483648.0, -1, kTooManyRowsMessage},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "twin " << c.first << " " << c.last);
    const StandinArray twin = row({c.first, c.last});
    expect_refusal(trainfold_mex(spikes.get(), h.get(), twin.get()), c.message);
  }
}

}  // namespace

namespace {

// trainfold_mex(1, zeros(0, 2^31 - 1), [0 2^31-2]): 2^31 - 1 rows and
// columns, 2^65 bytes.
TEST(TrainfoldMexGateway, ResultsTooLargeToAddressAreRefused) {
  const StandinArray spikes = column({1});
  const StandinArray h = zeros({0, kTwo31 - 1});
  const StandinArray twin = row({0, 2147483646});
  expect_refusal(trainfold_mex(spikes.get(), h.get(), twin.get()),
                 "the result would be larger than this process can address "
                 "(rows x columns x 8 bytes)");
}

}  // namespace
