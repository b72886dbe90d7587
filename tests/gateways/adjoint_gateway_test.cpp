// The modules tentfill2_adjoint and trainfold_adjoint called through the
// stand-in host: messages, refusals that create nothing, and results equal
// to the references' bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "bad_arrays.h"
#include "gateway_test_support.h"
#include "reference_kernels.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr size_t kTwo31 = size_t{1} << 31;

const char kUpCount[] = "tentfill2_adjoint needs 2 input args: r, nbns";
const char kUpR[] = "r must be a full (non-sparse) double array";
const char kUpNbns[] = "nbns must be a full (non-sparse) double array";
const char kUpEmpty[] =
    "nbns is empty; it must hold the number of fine bins per coarse bin";
const char kUpSize[] = "r has more than 2^31 - 1 rows or columns";
const char kUpRange[] =
    "nbns must be a number of at least 1 and less than 2^31 (not NaN or Inf)";
const char kUpRows[] =
    "r must have a multiple of fix(nbns) rows (tentfill2's result has "
    "size(x, 1) * fix(nbns))";

const char kSpCount[] =
    "trainfold_adjoint needs 4 input args: spinds, r, twin, ntaps";
const char kSpColumn[] =
    "spinds must be a column vector of spike times (one column)";
const char kSpSpinds[] = "spinds must be a full (non-sparse) double array";
const char kSpR[] = "r must be a full (non-sparse) double array";
const char kSpTwin[] = "twin must be a full (non-sparse) double array";
const char kSpNtaps[] = "ntaps must be a full (non-sparse) double array";
const char kSpTwinCount[] =
    "twin must hold two values, the first and last bin of the window";
const char kSpNtapsEmpty[] =
    "ntaps is empty; it must hold the number of filter taps";
const char kSpSizes[] = "spinds or r has more than 2^31 - 1 rows or columns";
const char kSpTwinRange[] =
    "twin values must be numbers within the 32-bit integer range (not NaN or "
    "Inf)";
const char kSpTwinOrder[] =
    "twin(2) must be at least twin(1) - 1 (the window would have a negative "
    "number of rows)";
const char kSpNtapsRange[] =
    "ntaps must be a whole number from 0 to 2^31 - 1 (not negative, "
    "fractional, NaN or Inf)";
const char kSpRows[] =
    "r must have one row per bin of the window: fix(twin(2)) - fix(twin(1)) "
    "+ 1 rows";

CallOutcome up(const std::vector<const mxArray *> &args) {
  return call_module(tentfill2_adjoint_module(), args);
}

CallOutcome sp(const std::vector<const mxArray *> &args) {
  return call_module(trainfold_adjoint_module(), args);
}

TEST(AdjointGateways, WrongArgumentCountIsRefusedBeforeAnyArgumentIsRead) {
  const StandinArray a = column({1, 2, 3, 4});
  const StandinArray b = scalar(2);
  for (size_t count : {0, 1, 3}) {
    std::vector<const mxArray *> args(count, a.get());
    const CallOutcome outcome = up(args);
    expect_refusal(outcome, kUpCount);
    EXPECT_EQ(outcome.host_queries, 0);
  }
  for (size_t count : {0, 2, 3, 5}) {
    std::vector<const mxArray *> args(count, b.get());
    const CallOutcome outcome = sp(args);
    expect_refusal(outcome, kSpCount);
    EXPECT_EQ(outcome.host_queries, 0);
  }
}

TEST(AdjointGateways, RandomInputsMatchTheReferencesBitForBit) {
  std::mt19937_64 rng(17);
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    const double nbns = trial % 3 ? static_cast<double>(1 + rng() % 9)
                                  : 1.0 + (rng() % 900) / 100.0;
    const size_t bins = static_cast<size_t>(nbns);
    const size_t samples = rng() % 12;
    const size_t cols = rng() % 4;
    const std::vector<double> values =
        random_values(rng, samples * bins * cols);
    const StandinArray r = doubles({samples * bins, cols}, values);
    const StandinArray n = scalar(nbns);
    std::vector<double> expected(samples * cols);
    reference_upsample_adjoint(
        values.data(), static_cast<int32_t>(samples * bins),
        static_cast<int32_t>(cols), nbns, expected.data());
    expect_result(up({r.get(), n.get()}), samples, cols, expected);

    const int32_t t0 = static_cast<int32_t>(rng() % 30) - 10;
    const int32_t t1 = t0 - 1 + static_cast<int32_t>(rng() % 25);
    const int32_t taps = static_cast<int32_t>(rng() % 10);
    std::vector<double> spikes(rng() % 12);
    for (double &s : spikes) {
      s = t0 - taps - 3 + static_cast<double>(rng() % 4000) / 100.0;
    }
    const size_t rows = static_cast<size_t>(t1 - t0 + 1);
    const std::vector<double> r_values = random_values(rng, rows * cols);
    const StandinArray spinds = doubles({spikes.size(), 1}, spikes);
    const StandinArray r2 = doubles({rows, cols}, r_values);
    const StandinArray twin =
        row({static_cast<double>(t0), static_cast<double>(t1)});
    const StandinArray ntaps = scalar(taps);
    std::vector<double> g(static_cast<size_t>(taps) * cols, 0.0);
    reference_spike_sum_adjoint(
        spikes.data(), static_cast<int32_t>(spikes.size()), r_values.data(),
        taps, static_cast<int32_t>(cols), t0, t1, g.data());
    expect_result(sp({spinds.get(), r2.get(), twin.get(), ntaps.get()}),
                  static_cast<size_t>(taps), cols, g);
  }
}

TEST(AdjointGateways, EveryNonDoubleOrSparseArgumentIsRefused) {
  const StandinArray r = column({1, 2, 3, 4});
  const StandinArray two = scalar(2);
  const StandinArray spikes = column({1, 2});
  const StandinArray twin = row({1, 4});
  for (const BadKind &kind : bad_kinds()) {
    SCOPED_TRACE(kind.name);
    const StandinArray bad_r = make_bad(kind, 4, 1);
    const StandinArray bad_scalar = make_bad(kind, 1, 1);
    const StandinArray bad_pair = make_bad(kind, 1, 2);
    const StandinArray bad_spikes = make_bad(kind, 2, 1);
    expect_refusal(up({bad_r.get(), two.get()}), kUpR);
    expect_refusal(up({r.get(), bad_scalar.get()}), kUpNbns);
    expect_refusal(sp({bad_spikes.get(), r.get(), twin.get(), two.get()}),
                   kSpSpinds);
    expect_refusal(sp({spikes.get(), bad_r.get(), twin.get(), two.get()}),
                   kSpR);
    expect_refusal(sp({spikes.get(), r.get(), bad_pair.get(), two.get()}),
                   kSpTwin);
    expect_refusal(sp({spikes.get(), r.get(), twin.get(), bad_scalar.get()}),
                   kSpNtaps);
  }
}

TEST(AdjointGateways, SizesAndValuesOutOfRangeAreRefused) {
  const StandinArray r = column({1, 2, 3, 4});
  const StandinArray empty = zeros({0, 0});
  const StandinArray wide = zeros({0, kTwo31});
  expect_refusal(up({r.get(), empty.get()}), kUpEmpty);
  expect_refusal(up({wide.get(), scalar(1).get()}), kUpSize);
  for (double bad :
       {kNaN, kInf, -kInf, 0.0, 0.5, 0.9999999999999999, -2.0, 2147483648.0}) {
    SCOPED_TRACE(bad);
    expect_refusal(up({r.get(), scalar(bad).get()}), kUpRange);
  }
  expect_refusal(up({r.get(), scalar(3).get()}), kUpRows);
  expect_refusal(up({column({1, 2, 3}).get(), scalar(2.5).get()}), kUpRows);

  const StandinArray spikes = column({1, 2});
  const StandinArray twin = row({1, 4});
  const StandinArray two = scalar(2);
  expect_refusal(sp({row({1, 2}).get(), r.get(), twin.get(), two.get()}),
                 kSpColumn);
  expect_refusal(sp({spikes.get(), r.get(), scalar(1).get(), two.get()}),
                 kSpTwinCount);
  expect_refusal(sp({spikes.get(), r.get(), twin.get(), empty.get()}),
                 kSpNtapsEmpty);
  expect_refusal(sp({spikes.get(), wide.get(), twin.get(), two.get()}),
                 kSpSizes);
  expect_refusal(sp({spikes.get(), r.get(), row({kNaN, 4}).get(), two.get()}),
                 kSpTwinRange);
  expect_refusal(
      sp({spikes.get(), zeros({0, 1}).get(), row({5, 3}).get(), two.get()}),
      kSpTwinOrder);
  for (double bad : {-1.0, 2.5, kNaN, kInf, 2147483648.0, 3.0000000000000004}) {
    SCOPED_TRACE(bad);
    expect_refusal(sp({spikes.get(), r.get(), twin.get(), scalar(bad).get()}),
                   kSpNtapsRange);
  }
  expect_refusal(
      sp({spikes.get(), column({1, 2, 3}).get(), twin.get(), two.get()}),
      kSpRows);
}

}  // namespace
