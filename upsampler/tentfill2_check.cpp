#include "upsampler/tentfill2_check.h"

#include "upsampler/nbns_refusals.h"

namespace spike_bins {

namespace {

// The gateway's count message names the module "tentfill".
constexpr auto kArgCount = arg_count_refusal(
    needs_args_text("tentfill", "2", "x, nbns"), "tentfill2", "2", "x, nbns");
constexpr auto kXType = matrix_type_refusal("x");
constexpr auto kXDims = dims_refusal("x", "column");
constexpr auto kXSize = size_refusal("x");
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
