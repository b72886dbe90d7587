#include "upsampler/upsample_bins.h"

#include <algorithm>

#include "common/avx2_dispatch.h"
#include "common/exact_math_guard.h"
#include "common/int_conversion.h"

namespace spike_bins {

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

// Rows 0 .. E-G-1: ((G+1+i) * h) * x_0.
KERNEL_INLINE void write_head_ramp(double first_sample, int32_t bins,
                                   int32_t half, double h, double *out) {
  const int32_t count = bins - half;
  for (int32_t i = 0; i < count; ++i) {
    out[i] = (static_cast<double>(half + 1 + i) * h) * first_sample;
  }
}

// The last G rows: ((E-1-k) * h) * x_{m-1}.
KERNEL_INLINE void write_tail_ramp(double last_sample, int32_t bins,
                                   int32_t half, double h, double *out) {
  for (int32_t k = 0; k < half; ++k) {
    out[k] = (static_cast<double>(bins - 1 - k) * h) * last_sample;
  }
}

// out[l + lane] = row_value(l + lane) for lane < width: a loop of known length.
template <int32_t width, typename RowValue>
KERNEL_INLINE void write_block(double *out, int32_t l, RowValue row_value) {
  for (int32_t lane = 0; lane < width; ++lane) {
    out[l + lane] = row_value(l + lane);
  }
}

// out[l] = row_value(l) for l = 0 .. count-1: blocks of kVectorBlock, then at
// most one block each of 4 and 2 and one single row, so that short gaps
// (E = 10: 8 + 2) stay vector code; blocks of 4 with a one-at-a-time tail
// measured up to 30% slower there.
template <typename RowValue>
KERNEL_INLINE void write_rows(double *out, int32_t count, RowValue row_value) {
  int32_t l = 0;
  for (; l + kVectorBlock <= count; l += kVectorBlock) {
    write_block<kVectorBlock>(out, l, row_value);
  }
  if (l + 4 <= count) {
    write_block<4>(out, l, row_value);
    l += 4;
  }
  if (l + 2 <= count) {
    write_block<2>(out, l, row_value);
    l += 2;
  }
  if (l < count) {
    out[l] = row_value(l);
  }
}

// Row positions k whose weights are tabled at a time: the weights depend only
// on k, so they are computed once per chunk of positions (once per call when
// E <= 128) instead of once per output element; 2 x 2 KiB of stack.
constexpr int32_t kWeightChunk = 128;

// One-column form for the row positions first .. first+count-1 of every gap:
// row k of the gap between x_{j-1} and x_j is
// ((E-1-k) * x_{j-1} + (k+1) * x_j) * h. The integer weights are exact in
// double; the weighted pair is summed, then scaled once. out is the column's
// row for position first of the first gap.
KERNEL_INLINE void write_positions_one_column(const double *x, int32_t rows,
                                              int32_t bins, int32_t first,
                                              int32_t count, double h,
                                              double *out) {
  double weight_before[kWeightChunk];
  double weight_after[kWeightChunk];
  for (int32_t l = 0; l < count; ++l) {
    weight_before[l] = static_cast<double>(bins - 1 - (first + l));
    weight_after[l] = static_cast<double>(first + l + 1);
  }
  for (int32_t j = 1; j < rows; ++j, out += bins) {
    const double previous = x[j - 1];
    const double current = x[j];
    write_rows(out, count, [&](int32_t l) {
      return (weight_before[l] * previous + weight_after[l] * current) * h;
    });
  }
}

// Many-column form for the same row positions: row k of a gap is
// ((E-1-k) * h) * x_{j-1} + ((k+1) * h) * x_j. The scaled weights are
// computed once and applied to every gap of every column, so the column loop
// only multiplies and adds. Interior rows start at row interior_start.
KERNEL_INLINE void write_positions_columns(DoubleMatrix x, int32_t bins,
                                           int32_t first, int32_t count,
                                           double h, int64_t interior_start,
                                           DoubleMatrix y) {
  double scaled_before[kWeightChunk];
  double scaled_after[kWeightChunk];
  for (int32_t l = 0; l < count; ++l) {
    scaled_before[l] = static_cast<double>(bins - 1 - (first + l)) * h;
    scaled_after[l] = static_cast<double>(first + l + 1) * h;
  }
  for (int32_t column = 0; column < x.cols; ++column) {
    const double *samples = column_data(x, column);
    double *out = column_data(y, column) + interior_start + first;
    for (int32_t j = 1; j < x.rows; ++j) {
      const double previous = samples[j - 1];
      const double current = samples[j];
      write_rows(
          out + static_cast<int64_t>(j - 1) * bins, count, [&](int32_t l) {
            return scaled_before[l] * previous + scaled_after[l] * current;
          });
    }
  }
}

// The whole fill for a checked shape: E = bins >= 1, x.rows >= 1, x.cols >= 1.
// Interior row k of the gap before x_j is output row (E-G) + (j-1)*E + k of
// its column; with one sample there are none.
KERNEL_INLINE void fill(DoubleMatrix x, double nbns, int32_t bins,
                        DoubleMatrix y) {
  const int32_t half = bins / 2;
  const double h = 1.0 / nbns;
  const int64_t interior_start = bins - half;
  // Row positions in chunks: first + count never passes E, so nothing
  // overflows even for E close to 2^31 - 1.
  for (int32_t first = 0; first < bins;) {
    const int32_t count = std::min(kWeightChunk, bins - first);
    if (x.cols == 1) {
      write_positions_one_column(x.data, x.rows, bins, first, count, h,
                                 y.data + interior_start + first);
    } else {
      write_positions_columns(x, bins, first, count, h, interior_start, y);
    }
    first += count;
  }
  for (int32_t column = 0; column < x.cols; ++column) {
    const double *samples = column_data(x, column);
    double *out = column_data(y, column);
    write_head_ramp(samples[0], bins, half, h, out);
    write_tail_ramp(samples[x.rows - 1], bins, half, h,
                    out + (static_cast<int64_t>(y.rows) - half));
  }
}

}  // namespace

void upsample_bins(DoubleMatrix x, double nbns, DoubleMatrix y) {
  const UpsampleShape shape = upsample_output_shape(x.rows, nbns);
  if (shape.status != UpsampleShapeStatus::ok || y.rows != shape.output_rows ||
      y.cols != x.cols) {
    return;
  }
  const int32_t bins = shape.bins_per_sample;
  if (bins == 0 || x.rows == 0 || x.cols == 0) {
    return;
  }
  call_fastest<fill>(x, nbns, bins, y);
}

}  // namespace spike_bins
