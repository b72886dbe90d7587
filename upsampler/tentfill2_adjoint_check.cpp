#include "upsampler/tentfill2_adjoint_check.h"

#include "upsampler/nbns_refusals.h"

namespace spike_bins {

namespace {

constexpr auto kArgCount =
    arg_count_refusal("tentfill2_adjoint", "2", "r, nbns");
constexpr auto kRType = matrix_type_refusal("r");
constexpr auto kRDims = dims_refusal("r", "column");
constexpr auto kRSize = size_refusal("r");
constexpr Refusal kNbnsRange{
    RefusalKind::arg_value,
    "nbns must be a number of at least 1 and less than 2^31 (not NaN or Inf)",
    "nbns must be a number of at least 1 and less than 2^31 (not NaN or "
    "Inf)"};
constexpr Refusal kRows{
    RefusalKind::arg_value,
    "r must have a multiple of fix(nbns) rows (tentfill2's result has "
    "size(x, 1) * fix(nbns))",
    "r must have a multiple of int(nbns) rows (tentfill2's result has "
    "x.shape[0] * int(nbns))"};

Tentfill2AdjointCall refused(const Refusal &refusal) {
  return {refusal, 0, 0, {UpsampleAdjointShapeStatus::ok, 0, 0}};
}

}  // namespace

Tentfill2AdjointCall tentfill2_adjoint_check(int arg_count, const ArgInfo &r,
                                             const ArgInfo &nbns,
                                             double nbns_first) {
  if (arg_count != 2) return refused(kArgCount);
  if (!r.numeric) return refused(kRType);
  if (!nbns.numeric) return refused(kNbnsType);
  if (element_count(nbns) == 0) return refused(kNbnsEmpty);
  if (r.extra_dims) return refused(kRDims);
  if (!dims_fit_int32(r)) return refused(kRSize);
  const int32_t rows = static_cast<int32_t>(r.rows);
  const int32_t cols = static_cast<int32_t>(r.cols);
  const UpsampleAdjointShape shape = upsample_adjoint_shape(rows, nbns_first);
  if (shape.status == UpsampleAdjointShapeStatus::bad_bin_count) {
    return refused(kNbnsRange);
  }
  if (shape.status != UpsampleAdjointShapeStatus::ok) return refused(kRows);
  if (!result_addressable(shape.output_rows, cols)) {
    return refused(kResultTooLarge);
  }
  return {kNoRefusal, rows, cols, shape};
}

}  // namespace spike_bins
