#include "upsampler/upsample_bins.h"

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

// Rows 0 .. E-G-1: ((G+1+i) * h) * x0.
void write_head_ramp(double first_sample, int32_t bins, int32_t half,
                     double h, double *out) {
  const int32_t count = bins - half;
  for (int32_t i = 0; i < count; ++i) {
    out[i] = (static_cast<double>(half + 1 + i) * h) * first_sample;
  }
}

// The last G rows: ((E-1-k) * h) * x_{m-1}.
void write_tail_ramp(double last_sample, int32_t bins, int32_t half,
                     double h, double *out) {
  for (int32_t k = 0; k < half; ++k) {
    out[k] = (static_cast<double>(bins - 1 - k) * h) * last_sample;
  }
}

// One column, one-column form: each interior row sums the weighted pair and
// scales once by h.
void upsample_column_sum_then_scale(const double *x, int32_t rows,
                                    int32_t bins, int32_t half, double h,
                                    double *y) {
  write_head_ramp(x[0], bins, half, h, y);
  double *out = y + (bins - half);
  for (int32_t j = 1; j < rows; ++j, out += bins) {
    const double previous = x[j - 1];
    const double current = x[j];
    for (int32_t k = 0; k < bins; ++k) {
      out[k] = (static_cast<double>(bins - 1 - k) * previous +
                static_cast<double>(k + 1) * current) *
               h;
    }
  }
  write_tail_ramp(x[rows - 1], bins, half, h, out);
}

// One column, many-column form: each weight is scaled by h before it
// multiplies its sample. The scaled weights depend only on k, so visiting the
// output column by column gives the same bits as visiting it row by row.
void upsample_column_scale_then_sum(const double *x, int32_t rows,
                                    int32_t bins, int32_t half, double h,
                                    double *y) {
  write_head_ramp(x[0], bins, half, h, y);
  double *out = y + (bins - half);
  for (int32_t j = 1; j < rows; ++j, out += bins) {
    const double previous = x[j - 1];
    const double current = x[j];
    for (int32_t k = 0; k < bins; ++k) {
      out[k] = (static_cast<double>(bins - 1 - k) * h) * previous +
               (static_cast<double>(k + 1) * h) * current;
    }
  }
  write_tail_ramp(x[rows - 1], bins, half, h, out);
}

}  // namespace

void upsample_bins(DoubleMatrix x, double nbns, DoubleMatrix y) {
  const UpsampleShape shape = upsample_output_shape(x.rows, nbns);
  if (shape.status != UpsampleShapeStatus::ok || y.rows != shape.output_rows || y.cols != x.cols) {
    return;
  }
  const int32_t bins = shape.bins_per_sample;
  if (bins == 0 || x.rows == 0) {
    return;
  }
  const int32_t half = bins / 2;
  const double h = 1.0 / nbns;
  if (x.cols == 1) {
    upsample_column_sum_then_scale(x.data, x.rows, bins, half, h, y.data);
    return;
  }
  for (int32_t column = 0; column < x.cols; ++column) {
    upsample_column_scale_then_sum(column_data(x, column), x.rows, bins, half,
                                   h, column_data(y, column));
  }
}
