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

#include "rate/portable_exp.h"
#include "reference_kernels.h"
#include "spike_filter/spike_filter_multi.h"
#include "spike_filter/spike_filter_multi_adjoint.h"
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

using namespace spike_bins;

void PrintTo(const GoldenUpsampleCase &c, std::ostream *os) { *os << c.name; }

std::vector<double> doubles_of(const std::vector<uint64_t> &bits) {
  std::vector<double> values;
  for (uint64_t b : bits) values.push_back(from_bits(b));
  return values;
}

// A fusing-sensitive case run through the kernel and through the reference
// (x in, y out, as the case's sizes give them); false when the case's shape
// is refused.
struct FusingRun {
  bool (*kernel)(const GoldenUpsampleCase &c, double *x, double *y,
                 int32_t *out_rows);
  void (*reference)(const GoldenUpsampleCase &c, const double *x, double *y);
};

void expect_golden_bits(const GoldenUpsampleCase &c, const FusingRun &run) {
  std::vector<double> x = doubles_of(c.x);
  const std::vector<double> expected = doubles_of(c.y);
  std::vector<double> y(expected.size(), kSentinel);
  int32_t out_rows = 0;
  ASSERT_TRUE(run.kernel(c, x.data(), y.data(), &out_rows)) << "shape";
  EXPECT_TRUE(same_bits_as(y, expected, out_rows)) << "kernel";
  std::vector<double> reference(expected.size(), kSentinel);
  run.reference(c, x.data(), reference.data());
  EXPECT_TRUE(same_bits_as(reference, expected, out_rows)) << "reference";
}

using FusingSensitive = testing::TestWithParam<GoldenUpsampleCase>;

TEST_P(FusingSensitive, KernelAndReferenceGiveTheGoldenBits) {
  expect_golden_bits(
      GetParam(),
      {[](const GoldenUpsampleCase &c, double *x, double *y, int32_t *rows) {
         const double nbns = from_bits(c.nbns);
         const UpsampleShape shape = upsample_output_shape(c.rows, nbns);
         *rows = shape.output_rows;
         if (shape.status != UpsampleShapeStatus::ok) return false;
         upsample_bins({c.rows, c.cols, x}, nbns, {*rows, c.cols, y});
         return true;
       },
       [](const GoldenUpsampleCase &c, const double *x, double *y) {
         reference_upsample(x, c.rows, c.cols, from_bits(c.nbns), y);
       }});
}

INSTANTIATE_TEST_SUITE_P(Golden, FusingSensitive,
                         testing::ValuesIn(golden_fusing_cases()),
                         case_name<GoldenUpsampleCase>);

// The adjoint's cases: x holds r (rows x cols), y holds g.
using FusingSensitiveAdjoint = testing::TestWithParam<GoldenUpsampleCase>;

TEST_P(FusingSensitiveAdjoint, KernelAndReferenceGiveTheGoldenBits) {
  expect_golden_bits(
      GetParam(),
      {[](const GoldenUpsampleCase &c, double *r, double *g, int32_t *rows) {
         const double nbns = from_bits(c.nbns);
         const UpsampleAdjointShape shape =
             upsample_adjoint_shape(c.rows, nbns);
         *rows = shape.output_rows;
         if (shape.status != UpsampleAdjointShapeStatus::ok) return false;
         upsample_bins_adjoint({c.rows, c.cols, r}, nbns, {*rows, c.cols, g});
         return true;
       },
       [](const GoldenUpsampleCase &c, const double *r, double *g) {
         reference_upsample_adjoint(r, c.rows, c.cols, from_bits(c.nbns), g);
       }});
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

// tag 0: the population set's own (7, or 8 for the adjoint); the
// targets-major sets are drawn alike from tags 9 and 10.
PopInput build_pop_case(int32_t index, bool adjoint, uint64_t tag = 0) {
  Stream s = stream_of(tag != 0  ? tag
                       : adjoint ? 8
                                 : 7,
                       static_cast<uint64_t>(index));
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

// One case of a kernel's set, run: the kernel's output (written into a buffer
// of kSentinel with two guard elements after it, here cut off) and the
// reference's.
struct GoldenRun {
  std::vector<double> output;
  std::vector<double> reference;
  int32_t rows;        // of the output
  bool guards_kept;    // the two guard elements still hold kSentinel
  int part;            // the digest it adds to: an index of kGoldenDigests
  std::string inputs;  // the case, for a report
};

// A buffer of size kSentinel values, filled with fill up to size, and the
// two guard elements after it.
std::vector<double> guarded(size_t size, double fill) {
  std::vector<double> buffer(size + 2, kSentinel);
  std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size),
            fill);
  return buffer;
}

// Cuts the guard elements off run.output, noting whether they were kept.
GoldenRun finished(GoldenRun run) {
  const auto end = run.output.end() - 2;
  run.guards_kept = untouched({end, run.output.end()});
  run.output.erase(end, run.output.end());
  return run;
}

// Every case of a kernel's set (run(index) for index 0 .. cases-1) against
// the C++ reference, case by case, and the digests of the outputs against
// the golden ones of the parts first_part ..first_part + parts - 1.
template <typename Run>
void check_golden_set(int32_t cases, int first_part, int parts, Run run) {
  std::vector<GoldenDigest> digests(static_cast<size_t>(parts),
                                    GoldenDigest{"", 0, 0});
  int reported = 0;
  for (int32_t index = 0; index < cases; ++index) {
    const GoldenRun r = run(index);
    EXPECT_TRUE(r.guards_kept) << "case " << index;
    const testing::AssertionResult same =
        same_bits_as(r.output, r.reference, r.rows);
    if (!same && reported++ < kMaxReported) {
      ADD_FAILURE() << "case " << index << " (" << r.inputs
                    << ") differs from the reference: " << same.message();
    }
    fold(r.output, &digests[static_cast<size_t>(r.part - first_part)]);
  }
  for (int part = 0; part < parts; ++part) {
    EXPECT_TRUE(matches_golden(digests[static_cast<size_t>(part)],
                               kGoldenDigests[first_part + part]));
  }
}

std::string upsample_inputs(const UpsampleInput &c) {
  return std::to_string(c.rows) + " x " + std::to_string(c.cols) + ", nbns " +
         describe_double(c.nbns);
}

std::string spike_inputs(const SpikeInput &c, const char *what) {
  return std::to_string(c.spinds.size()) + " spikes, " +
         std::to_string(c.taps) + " x " + std::to_string(c.filters) + what +
         ", twin " + describe_double(c.twin[0]) + ", " +
         describe_double(c.twin[1]);
}

TEST(GoldenSet, UpsampleBins) {
  check_golden_set(kGoldenUpsampleCases, 0, 2, [](int32_t index) {
    UpsampleInput c = build_upsample_case(index);
    const UpsampleShape shape = upsample_output_shape(c.rows, c.nbns);
    EXPECT_EQ(shape.status, UpsampleShapeStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(shape.output_rows) * c.cols;
    GoldenRun run{guarded(size, kSentinel), std::vector<double>(size, 7.25),
                  shape.output_rows,        false,
                  c.cols == 1 ? 0 : 1,      upsample_inputs(c)};
    upsample_bins({c.rows, c.cols, c.x.data()}, c.nbns,
                  {shape.output_rows, c.cols, run.output.data()});
    reference_upsample(c.x.data(), c.rows, c.cols, c.nbns,
                       run.reference.data());
    return finished(std::move(run));
  });
}

TEST(GoldenSet, SpikeFilterSum) {
  check_golden_set(kGoldenSpikeCases, 2, 1, [](int32_t index) {
    const SpikeInput c = build_spike_case(index);
    const SpikeWindow window = spike_window(c.twin);
    EXPECT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(window.rows) * c.filters;
    std::vector<double> h = c.h;
    GoldenRun run{guarded(size, 0.0),
                  std::vector<double>(size, 0.0),
                  window.rows,
                  false,
                  2,
                  spike_inputs(c, " filters")};
    spike_filter_sum(c.spinds.data(), static_cast<int32_t>(c.spinds.size()),
                     {c.taps, c.filters, h.data()}, c.twin,
                     {window.rows, c.filters, run.output.data()});
    reference_spike_sum(c.spinds.data(), static_cast<int32_t>(c.spinds.size()),
                        c.h.data(), c.taps, c.filters, c.twin[0], c.twin[1],
                        run.reference.data());
    return finished(std::move(run));
  });
}

TEST(GoldenSet, UpsampleBinsAdjoint) {
  check_golden_set(kGoldenAdjointUpsampleCases, 3, 1, [](int32_t index) {
    UpsampleInput c = build_upsample_adjoint_case(index);
    const UpsampleAdjointShape shape = upsample_adjoint_shape(c.rows, c.nbns);
    EXPECT_EQ(shape.status, UpsampleAdjointShapeStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(shape.output_rows) * c.cols;
    GoldenRun run{guarded(size, kSentinel),
                  std::vector<double>(size, 7.25),
                  shape.output_rows,
                  false,
                  3,
                  upsample_inputs(c)};
    upsample_bins_adjoint({c.rows, c.cols, c.x.data()}, c.nbns,
                          {shape.output_rows, c.cols, run.output.data()});
    reference_upsample_adjoint(c.x.data(), c.rows, c.cols, c.nbns,
                               run.reference.data());
    return finished(std::move(run));
  });
}

TEST(GoldenSet, SpikeFilterSumAdjoint) {
  check_golden_set(kGoldenAdjointSpikeCases, 4, 1, [](int32_t index) {
    const SpikeInput c = build_spike_case(index, true);
    const SpikeWindow window = spike_window(c.twin);
    EXPECT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(c.taps) * c.filters;
    std::vector<double> r = c.h;
    GoldenRun run{guarded(size, 0.0),
                  std::vector<double>(size, 0.0),
                  c.taps,
                  false,
                  4,
                  spike_inputs(c, " (taps x columns)")};
    spike_filter_sum_adjoint(c.spinds.data(),
                             static_cast<int32_t>(c.spinds.size()),
                             {window.rows, c.filters, r.data()}, c.twin, c.taps,
                             {c.taps, c.filters, run.output.data()});
    reference_spike_sum_adjoint(
        c.spinds.data(), static_cast<int32_t>(c.spinds.size()), c.h.data(),
        c.taps, c.filters, c.twin[0], c.twin[1], run.reference.data());
    return finished(std::move(run));
  });
}

std::string pop_inputs(const PopInput &c) {
  return std::to_string(c.spinds.size()) + " spikes, " +
         std::to_string(c.sources) + " sources, " + std::to_string(c.taps) +
         " taps, " + std::to_string(c.outputs) + " outputs, twin " +
         describe_double(c.twin[0]) + ", " + describe_double(c.twin[1]);
}

TEST(GoldenSet, SpikeFilterPop) {
  check_golden_set(kGoldenPopCases, 5, 1, [](int32_t index) {
    const PopInput c = build_pop_case(index, false);
    const SpikeWindow window = spike_window(c.twin);
    EXPECT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(window.rows) * c.outputs;
    const int32_t b = static_cast<int32_t>(c.spinds.size());
    std::vector<double> h = c.h;
    GoldenRun run{guarded(size, 0.0),
                  std::vector<double>(size, 0.0),
                  window.rows,
                  false,
                  5,
                  pop_inputs(c)};
    spike_filter_pop(c.spinds.data(), c.ids.data(), b,
                     {c.taps, c.sources * c.outputs, h.data()}, c.twin,
                     c.sources, c.base,
                     {window.rows, c.outputs, run.output.data()});
    reference_pop_sum(c.spinds.data(), c.ids.data(), b, c.h.data(), c.taps,
                      c.sources, c.outputs, c.base, c.twin[0], c.twin[1],
                      run.reference.data());
    return finished(std::move(run));
  });
}

TEST(GoldenSet, SpikeFilterPopAdjoint) {
  check_golden_set(kGoldenAdjointPopCases, 6, 1, [](int32_t index) {
    const PopInput c = build_pop_case(index, true);
    const SpikeWindow window = spike_window(c.twin);
    EXPECT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const int32_t filters = c.sources * c.outputs;
    const size_t size = static_cast<size_t>(c.taps) * filters;
    const int32_t b = static_cast<int32_t>(c.spinds.size());
    std::vector<double> r = c.h;
    GoldenRun run{
        guarded(size, 0.0), std::vector<double>(size, 0.0), c.taps, false, 6,
        pop_inputs(c)};
    spike_filter_pop_adjoint(c.spinds.data(), c.ids.data(), b,
                             {window.rows, c.outputs, r.data()}, c.twin, c.taps,
                             c.sources, c.base,
                             {c.taps, filters, run.output.data()});
    reference_pop_sum_adjoint(c.spinds.data(), c.ids.data(), b, c.h.data(),
                              c.taps, c.sources, c.outputs, c.base, c.twin[0],
                              c.twin[1], run.reference.data());
    return finished(std::move(run));
  });
}

// The targets-major sets: outputs are the targets K, h is K x taps*N and r
// K x the window's bins.
TEST(GoldenSet, SpikeFilterMulti) {
  check_golden_set(kGoldenMultiCases, 7, 1, [](int32_t index) {
    const PopInput c = build_pop_case(index, false, 9);
    const SpikeWindow window = spike_window(c.twin);
    EXPECT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const size_t size = static_cast<size_t>(c.outputs) * window.rows;
    const int32_t b = static_cast<int32_t>(c.spinds.size());
    std::vector<double> h = c.h;
    GoldenRun run{
        guarded(size, 0.0), std::vector<double>(size, 0.0), c.outputs, false, 7,
        pop_inputs(c)};
    spike_filter_multi(c.spinds.data(), c.ids.data(), b,
                       {c.outputs, c.taps * c.sources, h.data()}, c.twin,
                       c.sources, c.base,
                       {c.outputs, window.rows, run.output.data()});
    reference_multi_sum(c.spinds.data(), c.ids.data(), b, c.h.data(), c.outputs,
                        c.taps, c.sources, c.base, c.twin[0], c.twin[1],
                        run.reference.data());
    return finished(std::move(run));
  });
}

TEST(GoldenSet, SpikeFilterMultiAdjoint) {
  check_golden_set(kGoldenAdjointMultiCases, 8, 1, [](int32_t index) {
    const PopInput c = build_pop_case(index, true, 10);
    const SpikeWindow window = spike_window(c.twin);
    EXPECT_EQ(window.status, SpikeWindowStatus::ok) << "case " << index;
    const int32_t columns = c.taps * c.sources;
    const size_t size = static_cast<size_t>(c.outputs) * columns;
    const int32_t b = static_cast<int32_t>(c.spinds.size());
    std::vector<double> r = c.h;
    GoldenRun run{
        guarded(size, 0.0), std::vector<double>(size, 0.0), c.outputs, false, 8,
        pop_inputs(c)};
    spike_filter_multi_adjoint(c.spinds.data(), c.ids.data(), b,
                               {c.outputs, window.rows, r.data()}, c.twin,
                               c.taps, c.sources, c.base,
                               {c.outputs, columns, run.output.data()});
    reference_multi_sum_adjoint(c.spinds.data(), c.ids.data(), b, c.h.data(),
                                c.outputs, c.taps, c.sources, c.base, c.twin[0],
                                c.twin[1], run.reference.data());
    return finished(std::move(run));
  });
}

// The exponential's set (make_golden.py's build_exp_case): case 0 the edge
// values, the others 0 .. 40 values drawn from tag 11.
std::vector<double> build_exp_case(int32_t index) {
  const double overflow = 709.782712893383973096;
  const double underflow = -745.13321910194110842;
  const double ln2 = from_bits(0x3FE62E42FEFA39EFULL);
  std::vector<double> x;
  if (index == 0) {
    const double inf = HUGE_VAL;
    x = {0.0,  -0.0, 1.0,  -1.0,         1e-300, -1e-300, 0.5,
         -0.5, inf,  -inf, std::nan(""), -708.5, -740.0,  -744.44007192138126,
         700.0};
    for (double threshold : {overflow, underflow}) {
      for (int d = -3; d <= 3; ++d) {
        x.push_back(from_bits(bits_of(threshold) + static_cast<uint64_t>(d)));
      }
    }
    for (int k : {-1075, -1074, -1022, -1, 1, 10, 1023, 1024}) {
      x.push_back(static_cast<double>(k) * ln2);
    }
    return x;
  }
  Stream s = stream_of(11, static_cast<uint64_t>(index));
  const int64_t count = below(&s, 41);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t kind = below(&s, 100);
    const uint64_t sign = draw_bits(&s) & (uint64_t{1} << 63);
    if (kind < 45) {
      const uint64_t exponent = 1013 + below(&s, 20);
      x.push_back(with_exponent(&s, sign, exponent));
    } else if (kind < 55) {
      const double threshold = chance(&s, 50) ? overflow : underflow;
      const uint64_t step = static_cast<uint64_t>(below(&s, 9));
      x.push_back(from_bits(bits_of(threshold) + step - 4));
    } else if (kind < 65) {
      x.push_back(static_cast<double>(below(&s, 2101) - 1075) * ln2);
    } else if (kind < 72) {
      x.push_back(-708.0 - static_cast<double>(below(&s, 38000)) / 1024.0);
    } else if (kind < 80) {
      const uint64_t exponent = static_cast<uint64_t>(below(&s, 1000));
      x.push_back(with_exponent(&s, sign, exponent));
    } else if (kind < 90) {
      x.push_back(draw_value(&s));
    } else {
      x.push_back(decimal(&s, 10000));
    }
  }
  return x;
}

TEST(GoldenSet, PortableExp) {
  check_golden_set(kGoldenExpCases, 9, 1, [](int32_t index) {
    const std::vector<double> x = build_exp_case(index);
    const int32_t n = static_cast<int32_t>(x.size());
    std::vector<double> input = x;
    GoldenRun run{guarded(x.size(), kSentinel),
                  std::vector<double>(x.size(), 0.0),
                  n,
                  false,
                  9,
                  std::to_string(n) + " values"};
    portable_exp({n, 1, input.data()}, {n, 1, run.output.data()});
    reference_exp_all(x.data(), n, run.reference.data());
    return finished(std::move(run));
  });
}

}  // namespace
