#include "upsampler/tentfill2_check.h"

#include "upsampler/nbns_refusals.h"

namespace spike_bins {

namespace {

constexpr Refusal kArgCount{RefusalKind::arg_count,
                            "tentfill needs 2 input args: x, nbns",
                            "tentfill2() takes 2 arguments: x, nbns"};
constexpr Refusal kXType{
    RefusalKind::arg_type, "x must be a full (non-sparse) double array",
    "x must be an array of real numbers (bool, integer or float; not "
    "complex, text, objects or a sparse matrix)"};
constexpr Refusal kXDims{
    RefusalKind::arg_value,
    "x must have at most 2 dimensions (a 1-D x is one column)",
    "x must have at most 2 dimensions (a 1-D x is one column)"};
constexpr Refusal kXSize{RefusalKind::arg_value,
                         "x has more than 2^31 - 1 rows or columns",
                         "x has more than 2^31 - 1 rows or columns"};
constexpr Refusal kNbnsRange{
    RefusalKind::arg_value,
    "nbns must be a number greater than -1 and less than 2^31 (not NaN or "
    "Inf)",
    "nbns must be a number greater than -1 and less than 2^31 (not NaN or "
    "Inf)"};
constexpr Refusal kTooManyRows{
    RefusalKind::arg_value,
    "the result would have more than 2^31 - 1 rows (size(x, 1) * fix(nbns))",
    "the result would have more than 2^31 - 1 rows (x.shape[0] * "
    "int(nbns))"};

Tentfill2Call refused(const Refusal &refusal) {
  return {refusal, 0, 0, {UpsampleShapeStatus::ok, 0, 0}};
}

}  // namespace

Tentfill2Call tentfill2_check(int arg_count, const ArgInfo &x,
                              const ArgInfo &nbns, double nbns_first) {
  if (arg_count != 2) return refused(kArgCount);
  if (!x.numeric) return refused(kXType);
  if (!nbns.numeric) return refused(kNbnsType);
  if (element_count(nbns) == 0) return refused(kNbnsEmpty);
  if (x.extra_dims) return refused(kXDims);
  if (!dims_fit_int32(x)) return refused(kXSize);
  const int32_t rows = static_cast<int32_t>(x.rows);
  const int32_t cols = static_cast<int32_t>(x.cols);
  const UpsampleShape shape = upsample_output_shape(rows, nbns_first);
  if (shape.status == UpsampleShapeStatus::bad_bin_count) {
    return refused(kNbnsRange);
  }
  if (shape.status != UpsampleShapeStatus::ok) return refused(kTooManyRows);
  if (!result_addressable(shape.output_rows, cols)) {
    return refused(kResultTooLarge);
  }
  return {kNoRefusal, rows, cols, shape};
}

}  // namespace spike_bins
