// Each adjoint kernel against its forward kernel: the dot-product identity
// <A h, r> = <h, A* r> on random inputs within a derived rounding bound, and
// the gradient of a Poisson log-likelihood assembled from forward and
// adjoint against central finite differences.
//
// Rounding bound. Both sides approximate the same exact bilinear sum
// V = sum over every (output, input) pair the operator links of
// a * h_i * r_o, with a >= 0 the operator's entry (1 for the spike sum,
// w * h for the upsampler). With u = 2^-53 and gamma(n) = n u / (1 - n u),
// each term of V reaches a computed side through at most n roundings: for
// <A h, r>, the forward's own operations on it (the spike sum: one addition
// per other term of its output row, at most N - 1; the upsampler: the weight
// w * h, the product, the sum of two, at most 3), one product with r_o and
// one addition per output in the final dot product (K outputs); likewise for
// <h, A* r> with the adjoint's chains (the spike sum: at most N' - 1
// additions; the upsampler: the weight, the product and one addition per row
// a sample takes, at most 2E + 2) and its K' outputs. So each side is within
// gamma(n) * S of V, where n bounds those chains and
// S = sum of |a * h_i * r_o| = <A |h|, |r|>, and
// |<A h, r> - <h, A* r>| <= 2 gamma(n) S.
// S itself is computed with the forward on |h|, so it is taken with a
// factor (1 + 2 gamma(n)) to cover its own rounding. The inputs are finite
// and moderate (no overflow); NaN spike times are among them (they only end
// the scan).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "kernel_test_util.h"
#include "spike_filter/spike_filter_sum.h"
#include "spike_filter/spike_filter_sum_adjoint.h"
#include "upsampler/upsample_bins.h"
#include "upsampler/upsample_bins_adjoint.h"

using namespace spike_bins;

namespace {

constexpr int kIdentityCases = 3000;

double gamma_of(int64_t n) {
  const double u = 0x1p-53;
  return static_cast<double>(n) * u / (1.0 - static_cast<double>(n) * u);
}

double dot(const std::vector<double> &a, const std::vector<double> &b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum = a[i] * b[i] + sum;
  return sum;
}

std::vector<double> absolute(std::vector<double> values) {
  for (double &v : values) v = std::fabs(v);
  return values;
}

// Finite values over a few orders of magnitude, both signs, some zeros.
double moderate_value(Rng &rng) {
  if (chance(rng, 5)) return chance(rng, 50) ? 0.0 : -0.0;
  return uniform(rng, -1.0, 1.0) * std::ldexp(1.0, pick(rng, -8, 8));
}

std::vector<double> moderate_values(Rng &rng, int64_t count) {
  std::vector<double> values(static_cast<size_t>(count));
  for (double &v : values) v = moderate_value(rng);
  return values;
}

// The difference of the two sides and the bound it must stay within.
struct Sides {
  double forward;  // <A h, r>
  double adjoint;  // <h, A* r>
  double bound;
};

testing::AssertionResult within_bound(const Sides &s) {
  if (std::fabs(s.forward - s.adjoint) <= s.bound) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure()
         << "<A h, r> = " << describe_double(s.forward)
         << ", <h, A* r> = " << describe_double(s.adjoint) << ", difference "
         << std::fabs(s.forward - s.adjoint) << " beyond the bound " << s.bound;
}

// --- Upsampling --------------------------------------------------------------

// nbns whole or fractional, from 1 to 40, sometimes up to 300.
double random_adjoint_nbns(Rng &rng) {
  const int kind = pick(rng, 0, 9);
  if (kind < 4) return pick(rng, 1, 12);
  if (kind < 7) return uniform(rng, 1.0, 12.0);
  if (kind < 9) return uniform(rng, 1.0, 40.0);
  return uniform(rng, 1.0, 300.0);
}

Sides upsample_sides(const std::vector<double> &x, int32_t m, int32_t n,
                     double nbns, const std::vector<double> &r) {
  const UpsampleShape shape = upsample_output_shape(m, nbns);
  const int32_t f = shape.output_rows;
  std::vector<double> x_in = x;
  std::vector<double> y(static_cast<size_t>(f) * n, kSentinel);
  upsample_bins({m, n, x_in.data()}, nbns, {f, n, y.data()});
  std::vector<double> r_in = r;
  std::vector<double> g(static_cast<size_t>(m) * n, kSentinel);
  upsample_bins_adjoint({f, n, r_in.data()}, nbns, {m, n, g.data()});
  std::vector<double> x_abs = absolute(x);
  std::vector<double> y_abs(y.size());
  upsample_bins({m, n, x_abs.data()}, nbns, {f, n, y_abs.data()});
  const int64_t outputs = std::max<int64_t>(y.size(), g.size());
  const int64_t chain = 2 * int64_t{shape.bins_per_sample} + 3 + outputs;
  const double g_n = gamma_of(chain);
  const double s = dot(y_abs, absolute(r)) * (1.0 + 2.0 * g_n);
  return {dot(y, r), dot(x, g), 2.0 * g_n * s};
}

TEST(AdjointIdentity, UpsampleBinsOnRandomInputs) {
  for (int index = 0; index < kIdentityCases; ++index) {
    Rng rng = case_rng(index);
    const double nbns = random_adjoint_nbns(rng);
    const int32_t m = pick(rng, 1, 30);
    const int32_t n = chance(rng, 50) ? 1 : pick(rng, 2, 4);
    const int32_t f = m * static_cast<int32_t>(nbns);
    const std::vector<double> x = moderate_values(rng, int64_t{m} * n);
    const std::vector<double> r = moderate_values(rng, int64_t{f} * n);
    SCOPED_TRACE(testing::Message() << "case " << index << ": m " << m << ", n "
                                    << n << ", nbns " << describe_double(nbns));
    ASSERT_TRUE(within_bound(upsample_sides(x, m, n, nbns, r)));
  }
}

// --- Spike-train filter sum
// ---------------------------------------------------

struct SpikeSetup {
  std::vector<double> spinds;
  double twin[2];
  int32_t rows;
  int32_t taps;
  int32_t cols;
};

// Spike times around a window, ascending or not, with negative times, and
// sometimes a NaN.
SpikeSetup random_spike_setup(Rng &rng) {
  SpikeSetup c;
  const int32_t first = pick(rng, -30, 30);
  const int32_t last = first - 1 + pick(rng, 0, 60);
  c.twin[0] = first + (chance(rng, 30) ? (first >= 0 ? 0.5 : -0.5) : 0.0);
  c.twin[1] = last + (chance(rng, 30) ? (last >= 0 ? 0.25 : -0.25) : 0.0);
  c.rows = last - first + 1;
  c.taps = pick(rng, 0, 25);
  c.cols = pick(rng, 1, 3);
  const int count = pick(rng, 0, 40);
  for (int i = 0; i < count; ++i) {
    c.spinds.push_back(uniform(rng, first - c.taps - 5.0, last + 5.0));
  }
  if (chance(rng, 60)) std::sort(c.spinds.begin(), c.spinds.end());
  if (count > 0 && chance(rng, 15)) c.spinds[pick(rng, 0, count - 1)] = kNaN;
  return c;
}

Sides spike_sides(const SpikeSetup &c, const std::vector<double> &h,
                  const std::vector<double> &r) {
  const int32_t b = static_cast<int32_t>(c.spinds.size());
  std::vector<double> h_in = h;
  std::vector<double> y(static_cast<size_t>(c.rows) * c.cols, 0.0);
  spike_filter_sum(c.spinds.data(), b, {c.taps, c.cols, h_in.data()}, c.twin,
                   {c.rows, c.cols, y.data()});
  std::vector<double> r_in = r;
  std::vector<double> g(static_cast<size_t>(c.taps) * c.cols, 0.0);
  spike_filter_sum_adjoint(c.spinds.data(), b, {c.rows, c.cols, r_in.data()},
                           c.twin, c.taps, {c.taps, c.cols, g.data()});
  std::vector<double> h_abs = absolute(h);
  std::vector<double> y_abs(y.size(), 0.0);
  spike_filter_sum(c.spinds.data(), b, {c.taps, c.cols, h_abs.data()}, c.twin,
                   {c.rows, c.cols, y_abs.data()});
  // Each output sums at most one term per spike.
  const int64_t chain = int64_t{b} + 2 + std::max<int64_t>(y.size(), g.size());
  const double g_n = gamma_of(chain);
  const double s = dot(y_abs, absolute(r)) * (1.0 + 2.0 * g_n);
  return {dot(y, r), dot(h, g), 2.0 * g_n * s};
}

TEST(AdjointIdentity, SpikeFilterSumOnRandomInputs) {
  for (int index = 0; index < kIdentityCases; ++index) {
    Rng rng = case_rng(index);
    const SpikeSetup c = random_spike_setup(rng);
    const std::vector<double> h =
        moderate_values(rng, int64_t{c.taps} * c.cols);
    const std::vector<double> r =
        moderate_values(rng, int64_t{c.rows} * c.cols);
    SCOPED_TRACE(testing::Message()
                 << "case " << index << ": " << c.spinds.size() << " spikes, "
                 << c.taps << " taps, " << c.cols << " columns, twin "
                 << c.twin[0] << " " << c.twin[1]);
    ASSERT_TRUE(within_bound(spike_sides(c, h, r)));
  }
}

// The bound is tight enough to see a fault: one tap of the adjoint's result
// off by one unit in the 1e-9th place fails it.
TEST(AdjointIdentity, BoundCatchesASmallFault) {
  Rng rng = case_rng(1);
  SpikeSetup c;
  c.spinds = {0.5, 3.0, 4.2, 7.0};
  c.twin[0] = 0.0;
  c.twin[1] = 9.0;
  c.rows = 10;
  c.taps = 4;
  c.cols = 1;
  const std::vector<double> h = moderate_values(rng, 4);
  const std::vector<double> r = moderate_values(rng, 10);
  Sides s = spike_sides(c, h, r);
  EXPECT_TRUE(within_bound(s));
  s.adjoint += 1e-9 * std::fabs(s.forward) + 1e-300;
  EXPECT_FALSE(within_bound(s));
}

// --- Gradient of a Poisson log-likelihood
// -------------------------------------

// Two neurons over a window of F fine bins: the log rate of neuron k is
// eta = U x_k + S h_k + b, U the upsampler (nbns 2.5, so E = 2 and
// h = 0.4), S the spike-history sum of the neuron's own spikes; the
// log-likelihood of counts n is L = sum(n .* eta - exp(eta)). Its gradient
// with respect to x and h is U* (n - exp(eta)) and S* (n - exp(eta)).
struct GlmProblem {
  int32_t samples = 12;  // m
  double nbns = 2.5;
  int32_t bins = 24;  // F = m * E, the window 0 .. F-1
  int32_t taps = 7;
  std::vector<double> spinds = {0.7, 2.2, 3.9, 5.0, 9.5, 13.1, 14.8, 20.0};
  double twin[2] = {0.0, 23.0};
  std::vector<double> counts;  // F x 2
};

std::vector<double> log_rate(const GlmProblem &p, std::vector<double> x,
                             std::vector<double> h) {
  std::vector<double> eta(static_cast<size_t>(p.bins) * 2, 0.0);
  std::vector<double> drive(eta.size(), 0.0);
  upsample_bins({p.samples, 2, x.data()}, p.nbns, {p.bins, 2, drive.data()});
  spike_filter_sum(p.spinds.data(), static_cast<int32_t>(p.spinds.size()),
                   {p.taps, 2, h.data()}, p.twin, {p.bins, 2, eta.data()});
  for (size_t i = 0; i < eta.size(); ++i) eta[i] += drive[i] - 1.0;
  return eta;
}

double log_likelihood(const GlmProblem &p, const std::vector<double> &x,
                      const std::vector<double> &h) {
  const std::vector<double> eta = log_rate(p, x, h);
  double sum = 0.0;
  for (size_t i = 0; i < eta.size(); ++i) {
    sum += p.counts[i] * eta[i] - std::exp(eta[i]);
  }
  return sum;
}

TEST(AdjointGradient, PoissonLogLikelihoodMatchesFiniteDifferences) {
  GlmProblem p;
  Rng rng = case_rng(7);
  for (int i = 0; i < p.bins * 2; ++i) p.counts.push_back(pick(rng, 0, 3));
  std::vector<double> x(static_cast<size_t>(p.samples) * 2);
  std::vector<double> h(static_cast<size_t>(p.taps) * 2);
  for (double &v : x) v = uniform(rng, -0.5, 0.5);
  for (double &v : h) v = uniform(rng, -0.5, 0.5);

  const std::vector<double> eta = log_rate(p, x, h);
  std::vector<double> residual(eta.size());
  for (size_t i = 0; i < eta.size(); ++i) {
    residual[i] = p.counts[i] - std::exp(eta[i]);
  }
  std::vector<double> grad_x(x.size(), kSentinel);
  upsample_bins_adjoint({p.bins, 2, residual.data()}, p.nbns,
                        {p.samples, 2, grad_x.data()});
  std::vector<double> grad_h(h.size(), 0.0);
  spike_filter_sum_adjoint(
      p.spinds.data(), static_cast<int32_t>(p.spinds.size()),
      {p.bins, 2, residual.data()}, p.twin, p.taps, {p.taps, 2, grad_h.data()});

  // Central differences: error O(step^2) plus rounding O(eps / step).
  const double step = 1e-5;
  auto check = [&](std::vector<double> *params, const std::vector<double> &grad,
                   const char *what) {
    for (size_t i = 0; i < params->size(); ++i) {
      const double saved = (*params)[i];
      (*params)[i] = saved + step;
      const double up = log_likelihood(p, x, h);
      (*params)[i] = saved - step;
      const double down = log_likelihood(p, x, h);
      (*params)[i] = saved;
      const double numeric = (up - down) / (2.0 * step);
      EXPECT_NEAR(grad[i], numeric, 1e-6 * (1.0 + std::fabs(numeric)))
          << what << "[" << i << "]";
    }
  };
  check(&x, grad_x, "dL/dx");
  check(&h, grad_h, "dL/dh");
}

}  // namespace
