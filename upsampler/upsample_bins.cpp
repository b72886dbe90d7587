#include "upsampler/upsample_bins.h"

#include <type_traits>

#include "common/exact_math_guard.h"
#include "common/int_conversion.h"

UpsampleShape upsample_output_shape(int32_t input_rows, double nbns) {
  if (!(nbns > -1.0) || !truncates_to_int32(nbns)) {
    return {UpsampleShapeStatus::bad_bin_count, 0, 0};
  }
  if (input_rows < 0) {
    return {UpsampleShapeStatus::bad_input_rows, 0, 0};
  }
  const int32_t bins = truncate_to_int32(nbns);
  const int64_t rows = static_cast<int64_t>(input_rows) * bins;
  if (rows > INT32_MAX) {
    return {UpsampleShapeStatus::too_many_rows, bins, 0};
  }
  return {UpsampleShapeStatus::ok, bins, static_cast<int32_t>(rows)};
}

namespace {

// On x86-64 with GCC or Clang, when the build itself targets less than AVX2
// (the baseline is SSE2), the kernel body is compiled a second time for AVX2
// and chosen at run time when the CPU has it. Both copies come from the same
// source, with every helper inlined into them: each value gets the same IEEE
// operations in the same order, only the vector width differs. AVX2 has no
// fused multiply-add and none is enabled.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && \
    !defined(__AVX2__)
#define UPSAMPLE_AVX2_COPY 1
#define UPSAMPLE_INLINE __attribute__((always_inline)) inline
#else
#define UPSAMPLE_AVX2_COPY 0
#define UPSAMPLE_INLINE inline
#endif

// Row positions k whose weights are tabled at a time. The weights depend only
// on k, so they are computed once per call (per chunk of k when E is larger)
// instead of once per output element; 2 x 2 KiB of stack.
constexpr int32_t kWeightChunk = 128;

// Interior rows are written in blocks of this many elements, then at most one
// block each of 4, 2 and 1: loops of known length that the compiler turns
// into vector operations at -O2 too. Each lane does the same IEEE operations
// in the same order as the scalar code.
constexpr int32_t kBlock = 8;
template <int32_t N>
using Width = std::integral_constant<int32_t, N>;

// Rows 0 .. E-G-1: ((G+1+i) * h) * x0.
UPSAMPLE_INLINE void write_head_ramp(double first_sample, int32_t bins,
                                     int32_t half, double h, double *out) {
  const int32_t count = bins - half;
  for (int32_t i = 0; i < count; ++i) {
    out[i] = (static_cast<double>(half + 1 + i) * h) * first_sample;
  }
}

// The last G rows: ((E-1-k) * h) * x_{m-1}.
UPSAMPLE_INLINE void write_tail_ramp(double last_sample, int32_t bins,
                                     int32_t half, double h, double *out) {
  for (int32_t k = 0; k < half; ++k) {
    out[k] = (static_cast<double>(bins - 1 - k) * h) * last_sample;
  }
}

// The interior rows k0 .. k0+count-1 of every coarse gap of one column: row
// k0+l of the gap between x_{j-1} and x_j gets row_value(l, x_{j-1}, x_j).
template <typename RowValue>
UPSAMPLE_INLINE void write_interior_rows(const double *x, int32_t rows,
                                         int32_t bins, int32_t count,
                                         RowValue row_value, double *out) {
  for (int32_t j = 1; j < rows; ++j, out += bins) {
    const double previous = x[j - 1];
    const double current = x[j];
    int32_t k = 0;
    const auto rows_from_k = [&](auto width) {
      for (int32_t l = 0; l < decltype(width)::value; ++l) {
        out[k + l] = row_value(k + l, previous, current);
      }
      k += decltype(width)::value;
    };
    while (k + kBlock <= count) {
      rows_from_k(Width<kBlock>{});
    }
    if (k + 4 <= count) {
      rows_from_k(Width<4>{});
    }
    if (k + 2 <= count) {
      rows_from_k(Width<2>{});
    }
    if (k < count) {
      rows_from_k(Width<1>{});
    }
  }
}

// The whole fill for a checked shape: E = bins >= 1, x.rows >= 1.
UPSAMPLE_INLINE void fill(DoubleMatrix x, double nbns, int32_t bins,
                          DoubleMatrix y) {
  const int32_t half = bins / 2;
  const double h = 1.0 / nbns;
  const bool one_column = x.cols == 1;
  // Interior row k of a gap is output row (E-G) + (j-1)*E + k of its column.
  // There are interior rows only with two or more samples; positions are
  // counted in 64 bits, as E may be close to 2^31 - 1.
  const int64_t interior_start = bins - half;
  const bool has_interior = x.rows > 1 && x.cols > 0;
  double before[kWeightChunk];
  double after[kWeightChunk];
  for (int64_t k0 = 0; has_interior && k0 < bins; k0 += kWeightChunk) {
    const int32_t count = static_cast<int32_t>(
        bins - k0 < kWeightChunk ? bins - k0 : kWeightChunk);
    for (int32_t l = 0; l < count; ++l) {
      before[l] = static_cast<double>(bins - 1 - (k0 + l));
      after[l] = static_cast<double>(k0 + l + 1);
    }
    if (one_column) {
      // ((E-1-k) * x_{j-1} + (k+1) * x_j) * h: the integer weights are exact
      // in double; the weighted pair is summed, then scaled once.
      const auto sum_then_scale = [&](int32_t l, double previous,
                                      double current) {
        return (before[l] * previous + after[l] * current) * h;
      };
      write_interior_rows(x.data, x.rows, bins, count, sum_then_scale,
                          y.data + interior_start + k0);
      continue;
    }
    // ((E-1-k) * h) * x_{j-1} + ((k+1) * h) * x_j: each weight is scaled
    // once per call and the column loop only multiplies and adds.
    for (int32_t l = 0; l < count; ++l) {
      before[l] = before[l] * h;
      after[l] = after[l] * h;
    }
    const auto scale_then_sum = [&](int32_t l, double previous,
                                    double current) {
      return before[l] * previous + after[l] * current;
    };
    for (int32_t column = 0; column < x.cols; ++column) {
      write_interior_rows(column_data(x, column), x.rows, bins, count,
                          scale_then_sum,
                          column_data(y, column) + interior_start + k0);
    }
  }
  for (int32_t column = 0; column < x.cols; ++column) {
    const double *samples = column_data(x, column);
    double *out = column_data(y, column);
    write_head_ramp(samples[0], bins, half, h, out);
    write_tail_ramp(samples[x.rows - 1], bins, half, h,
                    out + (static_cast<int64_t>(y.rows) - half));
  }
}

#if UPSAMPLE_AVX2_COPY
__attribute__((target("avx2"))) void fill_avx2(DoubleMatrix x, double nbns,
                                               int32_t bins, DoubleMatrix y) {
  fill(x, nbns, bins, y);
}
#endif

}  // namespace

void upsample_bins(DoubleMatrix x, double nbns, DoubleMatrix y) {
  const UpsampleShape shape = upsample_output_shape(x.rows, nbns);
  if (shape.status != UpsampleShapeStatus::ok || y.rows != shape.output_rows ||
      y.cols != x.cols) {
    return;
  }
  const int32_t bins = shape.bins_per_sample;
  if (bins == 0 || x.rows == 0) {
    return;
  }
#if UPSAMPLE_AVX2_COPY
  if (__builtin_cpu_supports("avx2")) {
    fill_avx2(x, nbns, bins, y);
    return;
  }
#endif
  fill(x, nbns, bins, y);
}
