// Seeded random comparison of both kernels with the reference versions, bit
// for bit, over inputs rich in edge values: NaN, +-Inf, -0.0, subnormals,
// huge magnitudes, fractional bin counts and windows, one and many columns,
// empty shapes, and unsorted, negative and duplicate spike times. Each case
// draws from its own generator seeded by (kSeed, case index), so a failing
// case can be rerun alone from the printed numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "kernel_test_util.h"
#include "spike_filter/spike_filter_sum.h"
#include "upsampler/upsample_bins.h"

namespace {

constexpr uint64_t kSeed = 20240611;
constexpr int kCases = 100000;
constexpr int kMaxReportedFailures = 10;

using Rng = std::mt19937_64;

Rng case_rng(int index) {
  std::seed_seq seq{kSeed, static_cast<uint64_t>(index)};
  return Rng(seq);
}

int pick(Rng &rng, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(rng);
}

double uniform(Rng &rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

bool chance(Rng &rng, int percent) { return pick(rng, 0, 99) < percent; }

double from_bits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// A sample or tap value: mostly ordinary numbers, often edge values.
double random_value(Rng &rng) {
  const int kind = pick(rng, 0, 99);
  const double sign = chance(rng, 50) ? 1.0 : -1.0;
  if (kind < 40) return uniform(rng, -10.0, 10.0);
  if (kind < 50) return pick(rng, -5, 5);
  if (kind < 55) return sign * 0.0;
  if (kind < 58) return kNaN;
  if (kind < 62) return sign * kInf;
  if (kind < 67) {  // subnormal
    return sign * from_bits(rng() & 0x000fffffffffffffULL);
  }
  if (kind < 72) {  // huge
    const double huge[] = {std::numeric_limits<double>::max(), 1e300,
                           1e308 * uniform(rng, 0.5, 1.7)};
    return sign * huge[pick(rng, 0, 2)];
  }
  if (kind < 76) return sign * std::numeric_limits<double>::min();
  if (kind < 90) return from_bits(rng());  // any bits, NaN payloads included
  return 0.1 * pick(rng, -30, 30);
}

std::string list(const std::vector<double> &values) {
  std::ostringstream out;
  out.precision(17);
  out << "(";
  for (size_t i = 0; i < values.size(); ++i) {
    out << (i ? ", " : "") << values[i];
  }
  out << ")";
  return out.str();
}

std::string case_label(int index) {
  std::ostringstream out;
  out << "seed " << kSeed << " case " << index;
  return out.str();
}

// --- Upsampling -----------------------------------------------------------

double random_nbns(Rng &rng) {
  const int kind = pick(rng, 0, 99);
  if (kind < 35) return pick(rng, 1, 8);
  if (kind < 41) return pick(rng, 9, 60);
  if (kind < 43) {  // beyond 128 rows per sample, with m and n kept small
    return chance(rng, 50) ? pick(rng, 120, 300) : uniform(rng, 120.0, 300.0);
  }
  if (kind < 68) return uniform(rng, 1.0, 12.0);
  if (kind < 76) {  // one ulp either side of a whole number
    const double whole = pick(rng, 1, 8);
    return std::nextafter(whole, chance(rng, 50) ? 0.0 : kInf);
  }
  if (kind < 86) {  // E = 0
    const double zeros[] = {0.0, -0.0, 0.9999999999999999, -0.9999999999999999,
                            uniform(rng, -1.0, 1.0)};
    return zeros[pick(rng, 0, 4)];
  }
  if (kind < 94) {  // outside the domain
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
  return 1.0;
}

// Status, E and rows the size rule must give, from the reference rule.
void expect_shape_matches_reference(int32_t rows, double nbns, int index) {
  const UpsampleShape shape = upsample_output_shape(rows, nbns);
  int32_t bins = 0;
  if (!reference_bins_per_sample(nbns, &bins)) {
    EXPECT_EQ(shape.status, UpsampleShapeStatus::bad_bin_count)
        << case_label(index) << " nbns " << nbns;
    return;
  }
  const int64_t output_rows = reference_upsample_rows(rows, bins);
  if (output_rows > INT32_MAX) {
    EXPECT_EQ(shape.status, UpsampleShapeStatus::too_many_rows)
        << case_label(index) << " m " << rows << " nbns " << nbns;
    return;
  }
  EXPECT_EQ(shape.status, UpsampleShapeStatus::ok)
      << case_label(index) << " m " << rows << " nbns " << nbns;
  EXPECT_EQ(shape.bins_per_sample, bins)
      << case_label(index) << " nbns " << nbns;
  EXPECT_EQ(shape.output_rows, output_rows)
      << case_label(index) << " m " << rows << " nbns " << nbns;
}

// One random case; returns false on a mismatch (reported).
bool run_upsample_case(int index) {
  Rng rng = case_rng(index);
  // The size rule over the whole range of row counts and bin counts.
  const int32_t wide_rows = pick(rng, 0, INT32_MAX);
  const double wide_nbns =
      chance(rng, 50) ? random_nbns(rng) : uniform(rng, -2.0, 3e9);
  expect_shape_matches_reference(wide_rows, wide_nbns, index);

  const double nbns = random_nbns(rng);
  // Up to 6 x 4 samples; up to 3 x 2 when each makes over 100 rows.
  const bool many_bins = nbns > 100.0 && nbns < 1000.0;
  const int32_t m = chance(rng, 6)    ? 0
                    : chance(rng, 20) ? 1
                                      : pick(rng, 2, many_bins ? 3 : 6);
  const int32_t n = chance(rng, 5)    ? 0
                    : chance(rng, 45) ? 1
                                      : pick(rng, 2, many_bins ? 2 : 4);
  std::vector<double> x(static_cast<size_t>(m) * n);
  for (double &v : x) v = random_value(rng);
  expect_shape_matches_reference(m, nbns, index);
  const UpsampleShape shape = upsample_output_shape(m, nbns);

  // Built only for failure messages.
  const auto context = [&] {
    return case_label(index) + ": nbns " + describe_double(nbns) + ", m " +
           std::to_string(m) + ", n " + std::to_string(n) + ", x " + list(x);
  };
  if (shape.status != UpsampleShapeStatus::ok || chance(rng, 4)) {
    // Invalid nbns or an output of the wrong size: nothing is written.
    const int32_t wrong_rows =
        shape.status == UpsampleShapeStatus::ok
            ? shape.output_rows + (chance(rng, 50) ? 1 : -1)
            : pick(rng, 0, 3);
    std::vector<double> y(64, kSentinel);
    upsample_bins({m, n, x.data()}, nbns, {wrong_rows, n, y.data()});
    return expect_untouched(y, context() + ": rejected output of " +
                                   std::to_string(wrong_rows) + " rows");
  }

  const size_t size = static_cast<size_t>(shape.output_rows) * n;
  // Different fillers: an element left unwritten by both still mismatches.
  std::vector<double> actual(size, kSentinel);
  std::vector<double> expected(size, 7.25);
  upsample_bins({m, n, x.data()}, nbns, {shape.output_rows, n, actual.data()});
  reference_upsample(x.data(), m, n, nbns, expected.data());
  const int64_t at = first_bit_mismatch(actual.data(), expected.data(),
                                        static_cast<int64_t>(size));
  if (at >= 0) {
    ADD_FAILURE() << context() << ": row " << at % shape.output_rows
                  << " column " << at / shape.output_rows << " is "
                  << describe_double(actual[at]) << ", reference "
                  << describe_double(expected[at]);
    return false;
  }
  return true;
}

TEST(RandomComparison, UpsampleBinsMatchesReference) {
  int failures = 0;
  for (int i = 0; i < kCases && failures < kMaxReportedFailures; ++i) {
    if (!run_upsample_case(i)) ++failures;
  }
}

// --- Spike-train filter sum ----------------------------------------------

// A window end: the whole bin, or it plus a fraction away from zero, which
// truncates back to the same bin.
double window_end(Rng &rng, int32_t bin) {
  if (chance(rng, 60)) return bin;
  const double fraction = uniform(rng, 0.0, 1.0);
  if (bin == 0) return chance(rng, 50) ? fraction : -fraction;
  return bin > 0 ? bin + fraction : bin - fraction;
}

double random_window_end_wide(Rng &rng) {
  const int kind = pick(rng, 0, 9);
  if (kind < 3) return uniform(rng, -2.2e9, 2.2e9);
  if (kind < 5) return pick(rng, INT32_MIN, INT32_MAX);
  if (kind < 7) return random_value(rng);
  const double edges[] = {2147483647.0,  2147483647.75,  2147483648.0,
                          -2147483648.0, -2147483648.75, -2147483649.0};
  return edges[pick(rng, 0, 5)];
}

// Status, bins and rows the window rule must give, from the reference rule.
void expect_window_matches_reference(const double *twin, int index) {
  const SpikeWindow window = spike_window(twin);
  const auto context = [&] {
    return case_label(index) + ": twin (" + describe_double(twin[0]) + ", " +
           describe_double(twin[1]) + ")";
  };
  int32_t first = 0;
  int32_t last = 0;
  if (!reference_window_bin(twin[0], &first) ||
      !reference_window_bin(twin[1], &last)) {
    EXPECT_EQ(window.status, SpikeWindowStatus::bad_end) << context();
    return;
  }
  const int64_t rows = reference_window_rows(first, last);
  const SpikeWindowStatus status = rows < 0 ? SpikeWindowStatus::negative_rows
                                   : rows > INT32_MAX
                                       ? SpikeWindowStatus::too_many_rows
                                       : SpikeWindowStatus::ok;
  EXPECT_EQ(window.status, status) << context();
  if (status == SpikeWindowStatus::ok) {
    EXPECT_EQ(window.first_bin, first) << context();
    EXPECT_EQ(window.last_bin, last) << context();
    EXPECT_EQ(window.rows, rows) << context();
  }
}

// A spike time near the window, or an edge value.
double random_spike_time(Rng &rng, int64_t lower, int64_t upper) {
  if (chance(rng, 90)) {
    const double t = uniform(rng, static_cast<double>(lower - 3),
                             static_cast<double>(upper + 3));
    return chance(rng, 30) ? std::floor(t) : t;
  }
  const double edge_times[] = {
      kNaN,
      kInf,
      -kInf,
      1e300,
      -1e300,
      -0.0,
      4.9406564584124654e-324,
      static_cast<double>(lower),
      std::nextafter(static_cast<double>(lower), -kInf),
      static_cast<double>(upper),
      std::nextafter(static_cast<double>(upper), -kInf),
      -3e9,
      3e9,
      -2147483649.5,
      random_value(rng)};
  return edge_times[pick(rng, 0, 14)];
}

bool run_spike_case(int index) {
  Rng rng = case_rng(index);
  // The window rule over the whole range of doubles.
  const double wide_twin[2] = {random_window_end_wide(rng),
                               random_window_end_wide(rng)};
  expect_window_matches_reference(wide_twin, index);

  // A small window, near zero or at either end of the int32 range.
  const int where = pick(rng, 0, 99);
  int32_t first_bin = pick(rng, -8, 20);
  if (where >= 80 && where < 90) first_bin = INT32_MIN + pick(rng, 0, 6);
  if (where >= 90) first_bin = INT32_MAX - pick(rng, 0, 6);
  const int64_t last64 =
      std::min<int64_t>(int64_t{first_bin} - 1 + pick(rng, 0, 10), INT32_MAX);
  const int32_t last_bin = static_cast<int32_t>(last64);
  double twin[2] = {window_end(rng, first_bin), window_end(rng, last_bin)};
  if (chance(rng, 4)) {  // an invalid window
    const double bad[][2] = {{kNaN, 5.0},
                             {0.0, kInf},
                             {-kInf, 0.0},
                             {0.0, 2147483648.0},
                             {-2147483649.0, 0.0},
                             {5.0, 3.0},
                             {-2147483648.0, 2147483647.0}};
    const int which = pick(rng, 0, 6);
    twin[0] = bad[which][0];
    twin[1] = bad[which][1];
  }
  expect_window_matches_reference(twin, index);

  const int32_t c = chance(rng, 5)    ? 0
                    : chance(rng, 85) ? pick(rng, 1, 6)
                                      : pick(rng, 7, 20);
  const int32_t k = chance(rng, 5) ? 0 : chance(rng, 55) ? 1 : pick(rng, 2, 3);
  std::vector<double> h(static_cast<size_t>(c) * k);
  for (double &v : h)
    v = chance(rng, 70) ? uniform(rng, -10.0, 10.0) : random_value(rng);

  const int32_t b = chance(rng, 5) ? 0 : pick(rng, 1, 12);
  const int64_t lower = int64_t{first_bin} - c + 1;
  const int64_t upper = int64_t{last_bin} + 1;
  std::vector<double> spinds(b);
  for (double &s : spinds) {
    s = random_spike_time(rng, lower, upper);
  }
  const int order = pick(rng, 0, 99);
  if (order < 55) {  // ascending, NaNs moved to random places afterwards
    std::vector<double> numbers;
    for (double s : spinds) {
      if (!std::isnan(s)) numbers.push_back(s);
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<double> sorted(b, kNaN);
    std::vector<size_t> slots(b);
    for (size_t i = 0; i < slots.size(); ++i) slots[i] = i;
    std::shuffle(slots.begin(), slots.end(), rng);
    std::sort(slots.begin(), slots.begin() + numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i) sorted[slots[i]] = numbers[i];
    spinds = sorted;
  }
  for (int32_t i = 1; i < b; ++i) {
    if (chance(rng, 15)) spinds[i] = spinds[i - 1];  // duplicates
  }

  const auto context = [&] {
    std::ostringstream out;
    out << case_label(index) << ": twin (" << describe_double(twin[0]) << ", "
        << describe_double(twin[1]) << "), c " << c << ", K " << k << ", h "
        << list(h) << ", spinds " << list(spinds);
    return out.str();
  };

  const SpikeWindow window = spike_window(twin);
  if (window.status != SpikeWindowStatus::ok || chance(rng, 4)) {
    const int32_t wrong_rows = window.status == SpikeWindowStatus::ok
                                   ? window.rows + (chance(rng, 50) ? 1 : -1)
                                   : pick(rng, 0, 3);
    std::vector<double> y(64, kSentinel);
    spike_filter_sum(spinds.data(), b, {c, k, h.data()}, twin,
                     {wrong_rows, k, y.data()});
    return expect_untouched(y, context() + ": rejected output of " +
                                   std::to_string(wrong_rows) + " rows");
  }

  const size_t size = static_cast<size_t>(window.rows) * k;
  std::vector<double> actual(size, 0.0);
  std::vector<double> expected(size, 0.0);
  spike_filter_sum(spinds.data(), b, {c, k, h.data()}, twin,
                   {window.rows, k, actual.data()});
  reference_spike_sum(spinds.data(), b, h.data(), c, k, twin[0], twin[1],
                      expected.data());
  const int64_t at = first_bit_mismatch(actual.data(), expected.data(),
                                        static_cast<int64_t>(size));
  if (at >= 0) {
    ADD_FAILURE() << context() << ": row " << at % window.rows << " column "
                  << at / window.rows << " is " << describe_double(actual[at])
                  << ", reference " << describe_double(expected[at]);
    return false;
  }
  return true;
}

TEST(RandomComparison, SpikeFilterSumMatchesReference) {
  int failures = 0;
  for (int i = 0; i < kCases && failures < kMaxReportedFailures; ++i) {
    if (!run_spike_case(i)) ++failures;
  }
}

}  // namespace
