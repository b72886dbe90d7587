#include "upsampler/upsample_bins_adjoint.h"

#include <algorithm>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"

namespace spike_bins {

UpsampleAdjointShape upsample_adjoint_shape(int32_t input_rows, double nbns) {
  if (!(nbns >= 1.0) || !truncates_to_int32(nbns)) {
    return {UpsampleAdjointShapeStatus::bad_bin_count, 0, 0};
  }
  const int32_t bins = truncate_to_int32(nbns);
  if (input_rows < 0 || input_rows % bins != 0) {
    return {UpsampleAdjointShapeStatus::bad_input_rows, bins, 0};
  }
  return {UpsampleAdjointShapeStatus::ok, bins, input_rows / bins};
}

namespace {

// In the forward, sample j feeds the E rows j*E - G + k (k = 0 .. E-1) with
// weight k + 1 (the head ramp for j = 0 is the part of this at or after row
// 0), then the E rows (j+1)*E - G + k with weight E - 1 - k (the tail ramp for
// j = m - 1 is the part before row F). So the rows of sample j are contiguous
// and ascend with k through the rising, then the falling weights.

// Sample j alone, clamped to the rows 0 .. rows-1 (the first and last samples).
KERNEL_INLINE double sum_one_sample(const double *r, int64_t rows, int32_t bins,
                                    int32_t half, double h, int64_t j) {
  double acc = 0.0;
  const int64_t rising = j * bins - half;
  for (int64_t k = rising < 0 ? -rising : 0; k < bins; ++k) {
    acc = (static_cast<double>(k + 1) * h) * r[rising + k] + acc;
  }
  const int64_t falling = rising + bins;
  const int64_t end = std::min<int64_t>(bins, rows - falling);
  for (int64_t k = 0; k < end; ++k) {
    acc = (static_cast<double>(bins - 1 - k) * h) * r[falling + k] + acc;
  }
  return acc;
}

// width neighbouring samples whose rows all lie inside the column: the first
// one's rising rows start at rising. Each lane is its own sum, so the lanes
// are independent chains of additions (vector code, and no waiting on one
// long chain); each lane makes exactly the operations of sum_one_sample.
template <int32_t width>
KERNEL_INLINE void sum_samples(const double *r, int32_t bins, double h,
                               int64_t rising, double *g) {
  double acc[width];
  for (int32_t lane = 0; lane < width; ++lane) {
    acc[lane] = 0.0;
  }
  const double *rows = r + rising;
  for (int32_t k = 0; k < bins; ++k) {
    const double weight = static_cast<double>(k + 1) * h;
    for (int32_t lane = 0; lane < width; ++lane) {
      acc[lane] = weight * rows[int64_t{lane} * bins + k] + acc[lane];
    }
  }
  rows += bins;
  for (int32_t k = 0; k < bins; ++k) {
    const double weight = static_cast<double>(bins - 1 - k) * h;
    for (int32_t lane = 0; lane < width; ++lane) {
      acc[lane] = weight * rows[int64_t{lane} * bins + k] + acc[lane];
    }
  }
  for (int32_t lane = 0; lane < width; ++lane) {
    g[lane] = acc[lane];
  }
}

// The whole adjoint for a checked shape: E = bins >= 1, g.rows >= 1,
// g.cols >= 1. Samples 1 .. m-2 in blocks of kVectorBlock, then at most one
// block each of 4 and 2 and one single sample; the first and last samples on
// their own.
KERNEL_INLINE void sum_columns(DoubleMatrix r, double nbns, int32_t bins,
                               DoubleMatrix g) {
  const int32_t half = bins / 2;
  const double h = 1.0 / nbns;
  const int64_t samples = g.rows;
  for (int32_t column = 0; column < r.cols; ++column) {
    const double *in = column_data(r, column);
    double *out = column_data(g, column);
    out[0] = sum_one_sample(in, r.rows, bins, half, h, 0);
    if (samples == 1) {
      continue;
    }
    out[samples - 1] = sum_one_sample(in, r.rows, bins, half, h, samples - 1);
    int64_t j = 1;
    const int64_t end = samples - 1;
    for (; j + kVectorBlock <= end; j += kVectorBlock) {
      sum_samples<kVectorBlock>(in, bins, h, j * bins - half, out + j);
    }
    if (j + 4 <= end) {
      sum_samples<4>(in, bins, h, j * bins - half, out + j);
      j += 4;
    }
    if (j + 2 <= end) {
      sum_samples<2>(in, bins, h, j * bins - half, out + j);
      j += 2;
    }
    if (j < end) {
      sum_samples<1>(in, bins, h, j * bins - half, out + j);
    }
  }
}

}  // namespace

void upsample_bins_adjoint(DoubleMatrix r, double nbns, DoubleMatrix g) {
  const UpsampleAdjointShape shape = upsample_adjoint_shape(r.rows, nbns);
  if (shape.status != UpsampleAdjointShapeStatus::ok ||
      g.rows != shape.output_rows || g.cols != r.cols) {
    return;
  }
  if (g.rows == 0 || g.cols == 0) {
    return;
  }
  call_fastest<sum_columns>(r, nbns, shape.bins_per_sample, g);
}

}  // namespace spike_bins
