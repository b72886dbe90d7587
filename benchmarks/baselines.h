// Reference loops the kernels are measured against. Kept in their own
// translation unit, compiled with the kernels' flags, so that the compiler
// treats them as it treats the kernels (no inlining into the timing loop).
#ifndef BENCHMARKS_BASELINES_H
#define BENCHMARKS_BASELINES_H

#include <cstdint>

// out[i] = value for i < count: the least work that writes every element.
void store_loop(double *out, int64_t count, double value);

// y[i] = h[i] + y[i] for i < count: one tap addition per element. y and h
// must not overlap.
void add_loop(double *y, const double *h, int64_t count);

// The upsampling a user would write as a plain loop: one output element at a
// time, its sample pair and weights found by division and remainder, scaled
// by dividing by nbns. Same shape as upsample_bins; the values may differ in
// the last bit (division rounds differently).
void naive_upsample(const double *x, int32_t rows, int32_t cols, double nbns,
                    double *y);

// The spike sum a user would write as a plain loop: every spike, every tap,
// a bounds test per tap, the filters innermost (strided). Same result as
// spike_filter_sum for ascending non-negative times.
void naive_spike_sum(const double *spinds, int32_t b, const double *h_currents,
                     int32_t taps, int32_t filters, const double *twin,
                     double *y);

// out[j] = r[j*block] + ... + r[j*block + block-1] for j < blocks: reads
// every input once and stores every output once, the least work of a
// reduction of blocks (the upsampling adjoint's baseline).
void reduce_loop(const double *r, int64_t block, int64_t blocks, double *out);

// out = X' * r for X rows x cols (column-major) and r of rows values, one
// dot product per column of X: what a user with the design matrix built
// does instead of an adjoint.
void design_transpose_product(const double *x, int64_t rows, int64_t cols,
                              const double *r, double *out);

#endif  // BENCHMARKS_BASELINES_H
