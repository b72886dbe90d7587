#include "rate/rate_exp_check.h"

namespace spike_bins {

namespace {

constexpr auto kArgCount = arg_count_refusal("rate_exp", "1", "eta");
constexpr auto kEtaType = matrix_type_refusal("eta");
constexpr Refusal kEtaComplex{
    RefusalKind::arg_type,
    "eta must be real: the exponential of a complex value is not that of its "
    "real part",
    "eta must be real: the exponential of a complex value is not that of its "
    "real part"};
constexpr auto kEtaDims = dims_refusal("eta", "column");
constexpr auto kEtaSize = size_refusal("eta");

RateExpCall refused(const Refusal &refusal) {
  return {refusal, {ExpShapeStatus::ok, 0, 0}};
}

}  // namespace

RateExpCall rate_exp_check(int arg_count, const ArgInfo &eta,
                           bool eta_complex) {
  if (arg_count != 1) return refused(kArgCount);
  if (!eta.numeric) return refused(kEtaType);
  if (eta_complex) return refused(kEtaComplex);
  if (eta.extra_dims) return refused(kEtaDims);
  if (!dims_fit_int32(eta)) return refused(kEtaSize);
  const ExpShape shape = portable_exp_output_shape(
      static_cast<int32_t>(eta.rows), static_cast<int32_t>(eta.cols));
  if (!result_addressable(shape.rows, shape.cols)) {
    return refused(kResultTooLarge);
  }
  return {kNoRefusal, shape};
}

}  // namespace spike_bins
