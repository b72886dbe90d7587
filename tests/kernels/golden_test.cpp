// Both kernels against golden bits computed outside the C++ build by
// tests/golden/make_golden.py (Python floats: every operation rounded on its
// own), so that a compiler or flag that changes the kernels' arithmetic, such
// as contraction into fused multiply-adds, fails here even when it changes
// the C++ reference in the same way:
//   - the fusing-sensitive upsampling and upsampling-adjoint cases, output by
//     output;
//   - the large input set, rebuilt here from the same splitmix64 streams and
//     draws as in make_golden.py (keep the two in step). Each case is checked
//     against the C++ reference, which names a faulty case; the digest of all
//     outputs is checked against the golden one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "reference_kernels.h"
#include "spike_filter/spike_filter_pop.h"
#include "spike_filter/spike_filter_pop_adjoint.h"
#include "spike_filter/spike_filter_sum.h"
#include "spike_filter/spike_filter_sum_adjoint.h"
#include "tests/support/bits.h"
#include "tests/support/gtest_support.h"
#include "upsampler/upsample_bins.h"
#include "upsampler/upsample_bins_adjoint.h"

namespace {

struct GoldenDigest {
  const char *part;
  int64_t outputs;
  uint64_t digest;
};

struct GoldenUpsampleCase {
  const char *name;
  uint64_t nbns;  // bits
  int32_t rows;
  int32_t cols;
  std::vector<uint64_t> x;  // bits, column-major
  std::vector<uint64_t> y;  // bits, column-major
};

#include "tests/golden/golden_data.inc"

void PrintTo(const GoldenUpsampleCase &c, std::ostream *os) { *os << c.name; }

std::vector<double> doubles_of(const std::vector<uint64_t> &bits) {
  std::vector<double> values;
  for (uint64_t b : bits) values.push_back(from_bits(b));
  return values;
}

using FusingSensitive = testing::TestWithParam<GoldenUpsampleCase>;

TEST_P(FusingSensitive, KernelAndReferenceGiveTheGoldenBits) {
  const GoldenUpsampleCase &c = GetParam();
  const double nbns = from_bits(c.nbns);
  std::vector<double> x = doubles_of(c.x);
  const std::vector<double> expected = doubles_of(c.y);
  const UpsampleShape shape = upsample_output_shape(c.rows, nbns);
  ASSERT_EQ(shape.status, UpsampleShapeStatus::ok);
  std::vector<double> y(expected.size(), kSentinel);
  upsample_bins({c.rows, c.cols, x.data()}, nbns,
                {shape.output_rows, c.cols, y.data()});
  EXPECT_TRUE(same_bits_as(y, expected, shape.output_rows)) << "kernel";
  std::vector<double> reference(expected.size(), kSentinel);
  reference_upsample(x.data(), c.rows, c.cols, nbns, reference.data());
  EXPECT_TRUE(same_bits_as(reference, expected, shape.output_rows))
      << "reference";
}

INSTANTIATE_TEST_SUITE_P(Golden, FusingSensitive,
                         testing::ValuesIn(golden_fusing_cases()),
                         case_name<GoldenUpsampleCase>);

// The adjoint's cases: x holds r (rows x cols), y holds g.
using FusingSensitiveAdjoint = testing::TestWithParam<GoldenUpsampleCase>;

TEST_P(FusingSensitiveAdjoint, KernelAndReferenceGiveTheGoldenBits) {
  const GoldenUpsampleCase &c = GetParam();
  const double nbns = from_bits(c.nbns);
  std::vector<double> r = doubles_of(c.x);
  const std::vector<double> expected = doubles_of(c.y);
  const UpsampleAdjointShape shape = upsample_adjoint_shape(c.rows, nbns);
  ASSERT_EQ(shape.status, UpsampleAdjointShapeStatus::ok);
  std::vector<double> g(expected.size(), kSentinel);
  upsample_bins_adjoint({c.rows, c.cols, r.data()}, nbns,
                        {shape.output_rows, c.cols, g.data()});
  EXPECT_TRUE(same_bits_as(g, expected, shape.output_rows)) << "kernel";
  std::vector<double> reference(expected.size(), kSentinel);
  reference_upsample_adjoint(r.data(), c.rows, c.cols, nbns, reference.data());
  EXPECT_TRUE(same_bits_as(reference, expected, shape.output_rows))
      << "reference";
}

INSTANTIATE_TEST_SUITE_P(Golden, FusingSensitiveAdjoint,
                         testing::ValuesIn(golden_adjoint_fusing_cases()),
                         case_name<GoldenUpsampleCase>);

// --- The input set, drawn exactly as make_golden.py draws it ---------------
// Every draw is its own statement: C++ leaves the order of evaluation of
// operands open, Python does not.

uint64_t mix64(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

struct Stream {
  uint64_t state;
};

Stream stream_of(uint64_t tag, uint64_t index) {
  return {mix64(kGoldenSeed ^ (tag << 40) ^ index)};
}

uint64_t draw_bits(Stream *s) {
  s->state += 0x9E3779B97F4A7C15ULL;
  return mix64(s->state);
}

int64_t below(Stream *s, int64_t n) {
  return static_cast<int64_t>(draw_bits(s) % static_cast<uint64_t>(n));
}

bool chance(Stream *s, int64_t percent) { return below(s, 100) < percent; }

double unit(Stream *s) {
  return static_cast<double>(draw_bits(s) >> 11) * 0x1p-53;
}

double half_unit(Stream *s) {
  return static_cast<double>(draw_bits(s) >> 12) * 0x1p-53;
}

// sign | exponent << 52 | random mantissa.
double with_exponent(Stream *s, uint64_t sign, uint64_t exponent) {
  return from_bits(sign | exponent << 52 | draw_bits(s) >> 12);
}

double decimal(Stream *s, int64_t span) {  // (k - span) / 100
  return static_cast<double>(below(s, 2 * span + 1) - span) / 100.0;
}

double draw_value(Stream *s) {
  const int64_t kind = below(s, 100);
  const uint64_t sign = draw_bits(s) & (uint64_t{1} << 63);
  if (kind < 30) {
    const uint64_t exponent = 1019 + below(s, 9);
    return with_exponent(s, sign, exponent);
  }
  if (kind < 40) return decimal(s, 10000);
  if (kind < 48) return static_cast<double>(below(s, 11) - 5);
  if (kind < 53) return from_bits(sign);
  if (kind < 56)
    return from_bits(sign | 0x7FF8000000000000ULL | draw_bits(s) >> 13);
  if (kind < 60) return from_bits(sign | 0x7FF0000000000000ULL);
  if (kind < 65) return from_bits(sign | draw_bits(s) >> 12);
  if (kind < 70) {
    const uint64_t exponent = 2046 - below(s, 48);
    return with_exponent(s, sign, exponent);
  }
  if (kind < 74) {
    const uint64_t exponent = 1 + below(s, 40);
    return with_exponent(s, sign, exponent);
  }
  if (kind < 86) return from_bits(draw_bits(s));
  const uint64_t exponent = 993 + below(s, 61);
  return with_exponent(s, sign, exponent);
}

double draw_nbns(Stream *s) {
  const int64_t kind = below(s, 100);
  if (kind < 35) return static_cast<double>(1 + below(s, 8));
  if (kind < 45) return static_cast<double>(9 + below(s, 32));
  if (kind < 47) return static_cast<double>(100 + below(s, 201));
  if (kind < 70) {
    const double whole = static_cast<double>(1 + below(s, 12));
    if (kind < 60) return whole + unit(s);
    return whole + 0.25 * static_cast<double>(below(s, 4));
  }
  if (kind < 80) {
    const uint64_t whole = bits_of(static_cast<double>(1 + below(s, 8)));
    return from_bits(chance(s, 50) ? whole + 1 : whole - 1);
  }
  if (kind < 90) {
    const double zeros[] = {0.0, -0.0, 0.9999999999999999, -0.9999999999999999};
    const int64_t choice = below(s, 5);
    if (choice < 4) return zeros[choice];
    const double v = unit(s);
    return chance(s, 50) ? -v : v;
  }
  return 1.0;
}

struct UpsampleInput {
  std::vector<double> x;
  int32_t rows;
  int32_t cols;
  double nbns;
};

UpsampleInput build_upsample_case(int32_t index) {
  Stream s = stream_of(1, static_cast<uint64_t>(index));
  UpsampleInput c;
  c.nbns = draw_nbns(&s);
  const bool many = c.nbns >= 100.0;
  c.rows = chance(&s, 6)    ? 0
           : chance(&s, 20) ? 1
                            : static_cast<int32_t>(2 + below(&s, many ? 2 : 9));
  c.cols = chance(&s, 5)    ? 0
           : chance(&s, 45) ? 1
                            : static_cast<int32_t>(2 + below(&s, many ? 1 : 3));
  for (int32_t i = 0; i < c.rows * c.cols; ++i) c.x.push_back(draw_value(&s));
  if (c.cols >= 2 && chance(&s, 20)) {
    for (int32_t i = c.rows; i < c.rows * c.cols; ++i) c.x[i] = c.x[i % c.rows];
  }
  return c;
}

UpsampleInput build_upsample_adjoint_case(int32_t index) {
  Stream s = stream_of(4, static_cast<uint64_t>(index));
  UpsampleInput c;
  c.nbns = draw_nbns(&s);
  if (!(c.nbns >= 1.0)) c.nbns = 1.0 + std::fabs(c.nbns);
  const bool many = c.nbns >= 100.0;
  const int32_t samples =
      chance(&s, 6)    ? 0
      : chance(&s, 20) ? 1
                       : static_cast<int32_t>(2 + below(&s, many ? 2 : 9));
  c.cols = chance(&s, 5)    ? 0
           : chance(&s, 45) ? 1
                            : static_cast<int32_t>(2 + below(&s, many ? 1 : 3));
  c.rows = samples * static_cast<int32_t>(c.nbns);
  for (int32_t i = 0; i < c.rows * c.cols; ++i) c.x.push_back(draw_value(&s));
  return c;
}

double window_end(Stream *s, int64_t bin) {
  if (chance(s, 60)) return static_cast<double>(bin);
  const double f = half_unit(s);
  if (bin > 0) return static_cast<double>(bin) + f;
  if (bin < 0) return static_cast<double>(bin) - f;
  return chance(s, 50) ? f : -f;
}

double next_down(double value) {
  if (value > 0.0) return from_bits(bits_of(value) - 1);
  if (value < 0.0) return from_bits(bits_of(value) + 1);
  return -5e-324;
}

double draw_spike_time(Stream *s, int64_t lower, int64_t upper) {
  if (chance(s, 90)) {
    const double p =
        static_cast<double>(lower - 3 + below(s, upper - lower + 7));
    const int64_t kind = below(s, 10);
    if (kind < 3) return p;
    if (kind < 4) return p + 0.5;
    return p + unit(s);
  }
  const int64_t choice = below(s, 15);
  if (choice == 14) return draw_value(s);
  const double edges[] = {kNaN,
                          kInf,
                          -kInf,
                          1e300,
                          -1e300,
                          -0.0,
                          5e-324,
                          static_cast<double>(lower),
                          next_down(static_cast<double>(lower)),
                          static_cast<double>(upper),
                          next_down(static_cast<double>(upper)),
                          -3e9,
                          3e9,
                          -2147483649.5};
  return edges[choice];
}

struct SpikeInput {
  std::vector<double> spinds;
  std::vector<double> h;
  int32_t taps;
  int32_t filters;
  double twin[2];
};

// With adjoint, a case of the adjoint's set: its own streams, and h holds r
// (window rows x filters).
SpikeInput build_spike_case(int32_t index, bool adjoint = false) {
  Stream s = stream_of(adjoint ? 5 : 2, static_cast<uint64_t>(index));
  SpikeInput c;
  const int64_t where = below(&s, 100);
  const int64_t first = where < 80   ? below(&s, 29) - 8
                        : where < 90 ? INT32_MIN + below(&s, 7)
                                     : INT32_MAX - below(&s, 7);
  const int64_t drawn_last = first - 1 + below(&s, 42);
  const int64_t last =
      std::min<int64_t>(std::max<int64_t>(drawn_last, INT32_MIN), INT32_MAX);
  c.twin[0] = window_end(&s, first);
  c.twin[1] = window_end(&s, last);
  c.taps = chance(&s, 5)    ? 0
           : chance(&s, 85) ? static_cast<int32_t>(1 + below(&s, 6))
                            : static_cast<int32_t>(7 + below(&s, 14));
  c.filters = chance(&s, 5)    ? 0
              : chance(&s, 55) ? 1
                               : static_cast<int32_t>(2 + below(&s, 2));
  const int64_t values = (adjoint ? last - first + 1 : c.taps) * c.filters;
  for (int64_t i = 0; i < values; ++i) {
    c.h.push_back(chance(&s, 70) ? decimal(&s, 1000) : draw_value(&s));
  }
  const int64_t count = chance(&s, 5) ? 0 : 1 + below(&s, 16);
  const int64_t lower = first - c.taps + 1;
  const int64_t upper = last + 1;
  for (int64_t i = 0; i < count; ++i) {
    c.spinds.push_back(draw_spike_time(&s, lower, upper));
  }
  if (chance(&s, 55)) {  // ascending, NaNs left where they are
    std::vector<double> numbers;
    for (double t : c.spinds) {
      if (!std::isnan(t)) numbers.push_back(t);
    }
    std::stable_sort(numbers.begin(), numbers.end());
    size_t next = 0;
    for (double &t : c.spinds) {
      if (!std::isnan(t)) t = numbers[next++];
    }
  }
  for (size_t i = 1; i < c.spinds.size(); ++i) {
    if (chance(&s, 15)) c.spinds[i] = c.spinds[i - 1];
  }
  return c;
}

struct PopInput {
  std::vector<double> spinds;
  std::vector<double> ids;
  std::vector<double> h;  // r in the adjoint's set
  int32_t taps;
  int32_t sources;
  int32_t outputs;
  double twin[2];
  int32_t base;
};

PopInput build_pop_case(int32_t index, bool adjoint) {
  Stream s = stream_of(adjoint ? 8 : 7, static_cast<uint64_t>(index));
  PopInput c;
  const bool near_zero = chance(&s, 90);
  const int64_t first =
      near_zero ? below(&s, 29) - 8 : INT32_MAX - below(&s, 7);
  const int64_t last = std::min<int64_t>(first - 1 + below(&s, 30), INT32_MAX);
  c.twin[0] = window_end(&s, first);
  c.twin[1] = window_end(&s, last);
  c.taps = chance(&s, 5) ? 0 : static_cast<int32_t>(1 + below(&s, 8));
  c.sources = static_cast<int32_t>(1 + below(&s, 4));
  c.outputs = chance(&s, 5) ? 0 : static_cast<int32_t>(1 + below(&s, 3));
  c.base = static_cast<int32_t>(below(&s, 2));
  const int64_t values = adjoint ? (last - first + 1) * c.outputs
                                 : int64_t{c.taps} * c.sources * c.outputs;
  for (int64_t i = 0; i < values; ++i) {
    c.h.push_back(chance(&s, 70) ? decimal(&s, 1000) : draw_value(&s));
  }
  const int64_t count = chance(&s, 5) ? 0 : 1 + below(&s, 24);
  for (int64_t i = 0; i < count; ++i) {
    c.spinds.push_back(draw_spike_time(&s, first - c.taps + 1, last + 1));
  }
  for (int64_t i = 0; i < count; ++i) {
    c.ids.push_back(static_cast<double>(c.base + below(&s, c.sources)));
  }
  if (chance(&s, 40)) {  // ascending, NaNs left where they are
    std::vector<double> numbers;
    for (double t : c.spinds) {
      if (!std::isnan(t)) numbers.push_back(t);
    }
    std::stable_sort(numbers.begin(), numbers.end());
    size_t next = 0;
    for (double &t : c.spinds) {
      if (!std::isnan(t)) t = numbers[next++];
    }
  }
  for (size_t i = 1; i < c.spinds.size(); ++i) {
    if (chance(&s, 15)) c.spinds[i] = c.spinds[i - 1];
  }
  return c;
}

// digest = mix64(digest ^ bits) over the outputs, every NaN as one value.
void fold(const std::vector<double> &values, GoldenDigest *into) {
  for (double v : values) {
    const uint64_t bits = std::isnan(v) ? 0x7FF8000000000000ULL : bits_of(v);
    into->digest = mix64(into->digest ^ bits);
  }
  into->outputs += static_cast<int64_t>(values.size());
}

testing::AssertionResult matches_golden(const GoldenDigest &actual,
                                        const GoldenDigest &golden) {
  if (actual.outputs == golden.outputs && actual.digest == golden.digest) {
    return testing::AssertionSuccess();
  }
  char digests[64];
  std::snprintf(digests, sizeof digests, "%016" PRIx64 ", golden %016" PRIx64,
                actual.digest, golden.digest);
  return testing::AssertionFailure()
         << golden.part << ": " << actual.outputs << " outputs (golden "
         << golden.outputs << "), digest " << digests
         << ". Where every case agrees with the C++ reference, both were "
            "compiled with arithmetic other than the definition's (fused "
            "multiply-add, reassociation, x87 precision): check the build's "
            "exact-math flags.";
}

// Up to this many faulty cases are reported one by one.
constexpr int kMaxReported = 10;

TEST(GoldenSet, UpsampleBins) {
  GoldenDigest one_column{"", 0, 0};
  GoldenDigest more_columns{"", 0, 0};
  int reported = 0;
  for (int32_t index = 0; index < kGoldenUpsampleCases; ++index) {
    UpsampleInput c = build_upsample_case(index);
    const UpsampleShape shape = upsample_output_shape(c.rows, c.nbns);
    ASSERT_EQ(shape.status, UpsampleShapeStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(shape.output_rows) * c.cols;
    std::vector<double> y(size + 2, kSentinel);  // two guard elements
    upsample_bins({c.rows, c.cols, c.x.data()}, c.nbns,
                  {shape.output_rows, c.cols, y.data()});
    EXPECT_TRUE(untouched({y.begin() + size, y.end()})) << "case " << index;
    y.resize(size);
    std::vector<double> expected(size, 7.25);
    reference_upsample(c.x.data(), c.rows, c.cols, c.nbns, expected.data());
    const testing::AssertionResult same =
        same_bits_as(y, expected, shape.output_rows);
    if (!same && reported++ < kMaxReported) {
      ADD_FAILURE() << "case " << index << " (" << c.rows << " x " << c.cols
                    << ", nbns " << describe_double(c.nbns)
                    << ") differs from the reference: " << same.message();
    }
    fold(y, c.cols == 1 ? &one_column : &more_columns);
  }
  EXPECT_TRUE(matches_golden(one_column, kGoldenDigests[0]));
  EXPECT_TRUE(matches_golden(more_columns, kGoldenDigests[1]));
}

TEST(GoldenSet, SpikeFilterSum) {
  GoldenDigest sums{"", 0, 0};
  int reported = 0;
  for (int32_t index = 0; index < kGoldenSpikeCases; ++index) {
    const SpikeInput c = build_spike_case(index);
    const SpikeWindow window = spike_window(c.twin);
    ASSERT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(window.rows) * c.filters;
    std::vector<double> h = c.h;
    std::vector<double> y(size + 2, kSentinel);  // two guard elements
    std::fill(y.begin(), y.begin() + size, 0.0);
    spike_filter_sum(c.spinds.data(), static_cast<int32_t>(c.spinds.size()),
                     {c.taps, c.filters, h.data()}, c.twin,
                     {window.rows, c.filters, y.data()});
    EXPECT_TRUE(untouched({y.begin() + size, y.end()})) << "case " << index;
    y.resize(size);
    std::vector<double> expected(size, 0.0);
    reference_spike_sum(c.spinds.data(), static_cast<int32_t>(c.spinds.size()),
                        c.h.data(), c.taps, c.filters, c.twin[0], c.twin[1],
                        expected.data());
    const testing::AssertionResult same =
        same_bits_as(y, expected, window.rows);
    if (!same && reported++ < kMaxReported) {
      ADD_FAILURE() << "case " << index << " (" << c.spinds.size()
                    << " spikes, " << c.taps << " x " << c.filters
                    << " filters, twin " << describe_double(c.twin[0]) << ", "
                    << describe_double(c.twin[1])
                    << ") differs from the reference: " << same.message();
    }
    fold(y, &sums);
  }
  EXPECT_TRUE(matches_golden(sums, kGoldenDigests[2]));
}

TEST(GoldenSet, UpsampleBinsAdjoint) {
  GoldenDigest sums{"", 0, 0};
  int reported = 0;
  for (int32_t index = 0; index < kGoldenAdjointUpsampleCases; ++index) {
    UpsampleInput c = build_upsample_adjoint_case(index);
    const UpsampleAdjointShape shape = upsample_adjoint_shape(c.rows, c.nbns);
    ASSERT_EQ(shape.status, UpsampleAdjointShapeStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(shape.output_rows) * c.cols;
    std::vector<double> g(size + 2, kSentinel);  // two guard elements
    upsample_bins_adjoint({c.rows, c.cols, c.x.data()}, c.nbns,
                          {shape.output_rows, c.cols, g.data()});
    EXPECT_TRUE(untouched({g.begin() + size, g.end()})) << "case " << index;
    g.resize(size);
    std::vector<double> expected(size, 7.25);
    reference_upsample_adjoint(c.x.data(), c.rows, c.cols, c.nbns,
                               expected.data());
    const testing::AssertionResult same =
        same_bits_as(g, expected, shape.output_rows);
    if (!same && reported++ < kMaxReported) {
      ADD_FAILURE() << "case " << index << " (" << c.rows << " x " << c.cols
                    << ", nbns " << describe_double(c.nbns)
                    << ") differs from the reference: " << same.message();
    }
    fold(g, &sums);
  }
  EXPECT_TRUE(matches_golden(sums, kGoldenDigests[3]));
}

TEST(GoldenSet, SpikeFilterSumAdjoint) {
  GoldenDigest sums{"", 0, 0};
  int reported = 0;
  for (int32_t index = 0; index < kGoldenAdjointSpikeCases; ++index) {
    const SpikeInput c = build_spike_case(index, true);
    const SpikeWindow window = spike_window(c.twin);
    ASSERT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(c.taps) * c.filters;
    std::vector<double> r = c.h;
    std::vector<double> g(size + 2, kSentinel);  // two guard elements
    std::fill(g.begin(), g.begin() + size, 0.0);
    spike_filter_sum_adjoint(c.spinds.data(),
                             static_cast<int32_t>(c.spinds.size()),
                             {window.rows, c.filters, r.data()}, c.twin, c.taps,
                             {c.taps, c.filters, g.data()});
    EXPECT_TRUE(untouched({g.begin() + size, g.end()})) << "case " << index;
    g.resize(size);
    std::vector<double> expected(size, 0.0);
    reference_spike_sum_adjoint(
        c.spinds.data(), static_cast<int32_t>(c.spinds.size()), c.h.data(),
        c.taps, c.filters, c.twin[0], c.twin[1], expected.data());
    const testing::AssertionResult same = same_bits_as(g, expected, c.taps);
    if (!same && reported++ < kMaxReported) {
      ADD_FAILURE() << "case " << index << " (" << c.spinds.size()
                    << " spikes, " << c.taps << " taps, " << c.filters
                    << " columns, twin " << describe_double(c.twin[0]) << ", "
                    << describe_double(c.twin[1])
                    << ") differs from the reference: " << same.message();
    }
    fold(g, &sums);
  }
  EXPECT_TRUE(matches_golden(sums, kGoldenDigests[4]));
}

TEST(GoldenSet, SpikeFilterPop) {
  GoldenDigest sums{"", 0, 0};
  int reported = 0;
  for (int32_t index = 0; index < kGoldenPopCases; ++index) {
    const PopInput c = build_pop_case(index, false);
    const SpikeWindow window = spike_window(c.twin);
    ASSERT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(window.rows) * c.outputs;
    const int32_t b = static_cast<int32_t>(c.spinds.size());
    std::vector<double> h = c.h;
    std::vector<double> y(size + 2, kSentinel);  // two guard elements
    std::fill(y.begin(), y.begin() + size, 0.0);
    spike_filter_pop(c.spinds.data(), c.ids.data(), b,
                     {c.taps, c.sources * c.outputs, h.data()}, c.twin,
                     c.sources, c.base, {window.rows, c.outputs, y.data()});
    EXPECT_TRUE(untouched({y.begin() + size, y.end()})) << "case " << index;
    y.resize(size);
    std::vector<double> expected(size, 0.0);
    reference_pop_sum(c.spinds.data(), c.ids.data(), b, c.h.data(), c.taps,
                      c.sources, c.outputs, c.base, c.twin[0], c.twin[1],
                      expected.data());
    const testing::AssertionResult same =
        same_bits_as(y, expected, window.rows);
    if (!same && reported++ < kMaxReported) {
      ADD_FAILURE() << "case " << index << " (" << b << " spikes, " << c.sources
                    << " sources) differs from the reference: "
                    << same.message();
    }
    fold(y, &sums);
  }
  EXPECT_TRUE(matches_golden(sums, kGoldenDigests[5]));
}

TEST(GoldenSet, SpikeFilterPopAdjoint) {
  GoldenDigest sums{"", 0, 0};
  int reported = 0;
  for (int32_t index = 0; index < kGoldenAdjointPopCases; ++index) {
    const PopInput c = build_pop_case(index, true);
    const SpikeWindow window = spike_window(c.twin);
    ASSERT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const int32_t filters = c.sources * c.outputs;
    const size_t size = static_cast<size_t>(c.taps) * filters;
    const int32_t b = static_cast<int32_t>(c.spinds.size());
    std::vector<double> r = c.h;
    std::vector<double> g(size + 2, kSentinel);  // two guard elements
    std::fill(g.begin(), g.begin() + size, 0.0);
    spike_filter_pop_adjoint(c.spinds.data(), c.ids.data(), b,
                             {window.rows, c.outputs, r.data()}, c.twin, c.taps,
                             c.sources, c.base, {c.taps, filters, g.data()});
    EXPECT_TRUE(untouched({g.begin() + size, g.end()})) << "case " << index;
    g.resize(size);
    std::vector<double> expected(size, 0.0);
    reference_pop_sum_adjoint(c.spinds.data(), c.ids.data(), b, c.h.data(),
                              c.taps, c.sources, c.outputs, c.base, c.twin[0],
                              c.twin[1], expected.data());
    const testing::AssertionResult same = same_bits_as(g, expected, c.taps);
    if (!same && reported++ < kMaxReported) {
      ADD_FAILURE() << "case " << index << " (" << b << " spikes, " << c.sources
                    << " sources) differs from the reference: "
                    << same.message();
    }
    fold(g, &sums);
  }
  EXPECT_TRUE(matches_golden(sums, kGoldenDigests[6]));
}

}  // namespace
