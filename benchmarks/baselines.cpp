#include "benchmarks/baselines.h"

#include "common/avx2_dispatch.h"

using namespace spike_bins;

namespace {

// The store and add loops run in blocks of a known length, which GCC
// vectorises at -O2 too, with the kernels' AVX2 copy chosen at run time, so
// that they show the best a plain loop does on the same machine. Blocks of 8
// (two AVX2 vectors) keep the loop overhead of the in-L1 add loop low.
constexpr int64_t kBlock = 8;

KERNEL_INLINE void store_body(double *out, int64_t count, double value) {
  int64_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    for (int64_t l = 0; l < kBlock; ++l) {
      out[i + l] = value;
    }
  }
  for (; i < count; ++i) {
    out[i] = value;
  }
}

KERNEL_INLINE void add_body(double *__restrict y, const double *__restrict h,
                            int64_t count) {
  int64_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    for (int64_t l = 0; l < kBlock; ++l) {
      y[i + l] = h[i + l] + y[i + l];
    }
  }
  for (; i < count; ++i) {
    y[i] = h[i] + y[i];
  }
}

// Blocks of kBlock outputs at a time, each its own chain of additions, so
// that the loop is not bound by the latency of one chain.
KERNEL_INLINE void reduce_body(const double *r, int64_t block, int64_t blocks,
                               double *out) {
  int64_t j = 0;
  for (; j + kBlock <= blocks; j += kBlock) {
    double acc[kBlock] = {};
    for (int64_t k = 0; k < block; ++k) {
      for (int64_t l = 0; l < kBlock; ++l) {
        acc[l] = r[(j + l) * block + k] + acc[l];
      }
    }
    for (int64_t l = 0; l < kBlock; ++l) {
      out[j + l] = acc[l];
    }
  }
  for (; j < blocks; ++j) {
    double acc = 0.0;
    for (int64_t k = 0; k < block; ++k) {
      acc = r[j * block + k] + acc;
    }
    out[j] = acc;
  }
}

KERNEL_INLINE void design_body(const double *x, int64_t rows, int64_t cols,
                               const double *r, double *out) {
  for (int64_t q = 0; q < cols; ++q) {
    const double *column = x + q * rows;
    double acc[kBlock] = {};
    int64_t t = 0;
    for (; t + kBlock <= rows; t += kBlock) {
      for (int64_t l = 0; l < kBlock; ++l) {
        acc[l] = column[t + l] * r[t + l] + acc[l];
      }
    }
    double sum = 0.0;
    for (; t < rows; ++t) {
      sum = column[t] * r[t] + sum;
    }
    for (int64_t l = 0; l < kBlock; ++l) {
      sum = acc[l] + sum;
    }
    out[q] = sum;
  }
}

}  // namespace

void reduce_loop(const double *r, int64_t block, int64_t blocks, double *out) {
  call_fastest<reduce_body>(r, block, blocks, out);
}

void design_transpose_product(const double *x, int64_t rows, int64_t cols,
                              const double *r, double *out) {
  call_fastest<design_body>(x, rows, cols, r, out);
}

void store_loop(double *out, int64_t count, double value) {
  call_fastest<store_body>(out, count, value);
}

void add_loop(double *y, const double *h, int64_t count) {
  call_fastest<add_body>(y, h, count);
}

void naive_upsample(const double *x, int32_t rows, int32_t cols, double nbns,
                    double *y) {
  const int64_t bins = static_cast<int64_t>(nbns);
  const int64_t half = bins / 2;
  const int64_t out_rows = rows * bins;
  for (int64_t c = 0; c < cols; ++c) {
    const double *column = x + c * rows;
    double *out = y + c * out_rows;
    for (int64_t r = 0; r < out_rows; ++r) {
      const int64_t position = r + half;
      const int64_t j = position / bins;
      const int64_t k = position % bins;
      const double before = j > 0 ? column[j - 1] : 0.0;
      const double after = j < rows ? column[j] : 0.0;
      out[r] = (static_cast<double>(bins - 1 - k) * before +
                static_cast<double>(k + 1) * after) /
               nbns;
    }
  }
}

void naive_spike_sum(const double *spinds, int32_t b, const double *h_currents,
                     int32_t taps, int32_t filters, const double *twin,
                     double *y) {
  const int64_t first_bin = static_cast<int64_t>(twin[0]);
  const int64_t last_bin = static_cast<int64_t>(twin[1]);
  const int64_t rows = last_bin - first_bin + 1;
  for (int32_t s = 0; s < b; ++s) {
    const int64_t bin = static_cast<int64_t>(spinds[s]);
    for (int64_t q = 0; q < taps; ++q) {
      const int64_t t = bin + q;
      if (t < first_bin || t > last_bin) {
        continue;
      }
      for (int64_t k = 0; k < filters; ++k) {
        y[t - first_bin + rows * k] += h_currents[q + taps * k];
      }
    }
  }
}
