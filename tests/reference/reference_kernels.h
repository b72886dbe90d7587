// Straightforward reference versions of the two kernels, for bit-for-bit
// comparison in tests and fuzzers.
//
// They follow the defining formulas directly (one output row at a time,
// thresholds and bins in 64-bit or exact double arithmetic) and make no
// attempt at speed. They share no code with the kernels. All arithmetic is
// IEEE double with each operation rounded on its own (built with
// -ffp-contract=off -fno-fast-math), so their results are exact bits.
#ifndef TESTS_REFERENCE_REFERENCE_KERNELS_H
#define TESTS_REFERENCE_REFERENCE_KERNELS_H

#include <cstdint>

#include "tests/support/bits.h"  // the bitwise comparison of results

// --- Upsampling -----------------------------------------------------------

// E = nbns truncated toward zero. Returns false (bins untouched) when E is
// not a defined, non-negative 32-bit int: NaN, +-Inf, nbns <= -1,
// nbns >= 2^31.
bool reference_bins_per_sample(double nbns, int32_t *bins);

// Output rows m * E in 64 bits (never wraps); requires m >= 0, bins >= 0.
int64_t reference_upsample_rows(int32_t m, int32_t bins);

// Upsamples x (m rows x n columns, column-major) into y (m*E rows x n
// columns, column-major), assigning every element of y. n == 1 uses the
// one-column form, any other n the many-column form. Writes nothing when
// reference_bins_per_sample fails, when E == 0, m <= 0 or n <= 0. Requires
// m * E <= 2^31 - 1 (y must hold m*E*n doubles).
void reference_upsample(const double *x, int32_t m, int32_t n, double nbns,
                        double *y);

// --- Spike-train filter sum ----------------------------------------------

// A window end truncated toward zero. Returns false (bin untouched) for NaN,
// +-Inf and values whose truncation is outside the 32-bit range.
bool reference_window_bin(double end, int32_t *bin);

// Window rows T1 - T0 + 1 in 64 bits (may be negative or exceed 2^31 - 1).
int64_t reference_window_rows(int32_t first_bin, int32_t last_bin);

// Adds the taps of h (c taps x k filters, column-major) placed at the b spike
// times into y (R rows x k columns, column-major, R = T1 - T0 + 1 from
// t0, t1), following the skip / scan / add steps in list order. y is added
// into, as by the kernel. Writes nothing when either window end fails
// reference_window_bin or R <= 0. Any spike time is allowed (NaN, +-Inf,
// far outside the integer ranges); extreme thresholds and bins are handled
// with their mathematical values.
void reference_spike_sum(const double *spinds, int32_t b, const double *h,
                         int32_t c, int32_t k, double t0, double t1, double *y);

// --- Adjoints ---------------------------------------------------------------

// E = nbns truncated toward zero for the upsampling adjoint, which needs
// E >= 1. Returns false (bins untouched) for NaN, +-Inf, nbns < 1 and
// nbns >= 2^31.
bool reference_adjoint_bins_per_sample(double nbns, int32_t *bins);

// g (m x n, m = F / E) from r (F rows x n columns, F a multiple of E), every
// element assigned: sample j of a column is +0.0, then (w * h) * r(rho) + acc
// over the rows rho of the forward that hold sample j with weight w, in
// ascending row order (the rows and weights found from the forward's
// formulas, one row at a time). Writes nothing when
// reference_adjoint_bins_per_sample fails, F is not a multiple of E, F <= 0
// or n <= 0.
void reference_upsample_adjoint(const double *r, int32_t f, int32_t n,
                                double nbns, double *g);

// c = ntaps when it is a whole number from 0 to 2^31 - 1; false otherwise
// (negative, fractional, NaN, +-Inf, too large).
bool reference_tap_count(double ntaps, int32_t *taps);

// Adds into g (c taps x k columns, column-major) from r (R rows x k columns,
// R = T1 - T0 + 1 from t0, t1): for each spike the forward scan with c taps
// takes, in list order, and each column and bin t = max(B, T0) ..
// min(B + c - 1, T1) ascending, g(t - B) = r(t - T0) + g(t - B). Writes
// nothing when either window end fails reference_window_bin or R <= 0.
void reference_spike_sum_adjoint(const double *spinds, int32_t b,
                                 const double *r, int32_t c, int32_t k,
                                 double t0, double t1, double *g);

// --- Population sums
// ----------------------------------------------------------

// N = nsources when it is a whole number from 1 to 2^31 - 1; false otherwise.
bool reference_source_count(double nsources, int32_t *sources);

// Every one of the b ids is a whole number from base to base + sources - 1.
bool reference_source_ids(const double *ids, int32_t b, int32_t sources,
                          int32_t base);

// Adds into y (R x k) the filters of h (c taps x n*k, column col*n + source)
// of each spike's source ids[j] - base, with the spikes, bins and order of
// reference_spike_sum: y(t - T0, col) = h(t - B, col*n + source) + y(...).
// Requires valid ids. Writes nothing for an invalid or empty window.
void reference_pop_sum(const double *spinds, const double *ids, int32_t b,
                       const double *h, int32_t c, int32_t n, int32_t k,
                       int32_t base, double t0, double t1, double *y);

// Adds into g (c x n*k) from r (R x k): for each spike taken, in list order,
// each column col and bin t ascending, g(t - B, col*n + source) =
// r(t - T0, col) + g(t - B, col*n + source). Requires valid ids.
void reference_pop_sum_adjoint(const double *spinds, const double *ids,
                               int32_t b, const double *r, int32_t c, int32_t n,
                               int32_t k, int32_t base, double t0, double t1,
                               double *g);

// --- Targets-major population sums
// -------------------------------------------------

// Adds into y (k targets x R bins) the filters of h (k x c*n, element
// (target, source*c + tap)) of each spike's source ids[j] - base, with the
// spikes of reference_spike_sum: for each spike taken in list order, each bin
// t it reaches ascending and each target, y(target, t - T0) =
// h(target, source*c + t - B) + y(target, t - T0). Requires valid ids.
// Writes nothing for an invalid or empty window.
void reference_multi_sum(const double *spinds, const double *ids, int32_t b,
                         const double *h, int32_t k, int32_t c, int32_t n,
                         int32_t base, double t0, double t1, double *y);

// Adds into g (k x c*n) from r (k x R): for each spike taken, in list order,
// each bin t ascending and each target, g(target, source*c + t - B) =
// r(target, t - T0) + g(target, source*c + t - B). Requires valid ids.
void reference_multi_sum_adjoint(const double *spinds, const double *ids,
                                 int32_t b, const double *r, int32_t k,
                                 int32_t c, int32_t n, int32_t base, double t0,
                                 double t1, double *g);

// --- Exponential ---------------------------------------------------------

// exp(x) by the sequence of rate/portable_exp.h, one value at a time with
// branches for the special cases, the whole number kd converted to an int
// and the scaling by std::ldexp (constants written out here, not taken from
// the kernel's header).
double reference_exp(double x);

// y[i] = reference_exp(x[i]) for i < count.
void reference_exp_all(const double *x, int64_t count, double *y);

#endif  // TESTS_REFERENCE_REFERENCE_KERNELS_H
