#include "spike_filter/trainfold_adjoint_check.h"

#include "spike_filter/window_refusals.h"

namespace spike_bins {

namespace {

constexpr auto kArgCount =
    arg_count_refusal("trainfold_adjoint", "4", "spinds, r, twin, ntaps");
constexpr auto kSizes = size_refusal("spinds or r");

TrainfoldAdjointCall refused(const Refusal &refusal) {
  return {refusal,
          0,
          0,
          {SpikeAdjointShapeStatus::ok, {SpikeWindowStatus::ok, 0, 0, 0}, 0}};
}

}  // namespace

TrainfoldAdjointCall trainfold_adjoint_check(
    int arg_count, const ArgInfo &spinds, const ArgInfo &r, const ArgInfo &twin,
    const ArgInfo &ntaps, const double *twin_first_two, double ntaps_first) {
  if (arg_count != 4) return refused(kArgCount);
  // Compared in the host's width, so that a column count beyond 2^31 cannot
  // wrap to 1 and pass.
  if (spinds.cols > 1) return refused(kSpindsNotColumn);
  if (!spinds.numeric) return refused(kSpindsType);
  if (!r.numeric) return refused(kRType);
  if (!twin.numeric) return refused(kTwinType);
  if (!ntaps.numeric) return refused(kNtapsType);
  if (element_count(twin) < 2) return refused(kTwinCount);
  if (element_count(ntaps) == 0) return refused(kNtapsEmpty);
  if (r.extra_dims) return refused(kRDims);
  if (!dims_fit_int32(spinds) || !dims_fit_int32(r)) return refused(kSizes);
  const SpikeAdjointShape shape = spike_adjoint_shape(
      twin_first_two, ntaps_first, static_cast<int32_t>(r.rows));
  const Refusal shape_refusal = adjoint_shape_refusal(shape);
  if (shape_refusal.kind != RefusalKind::none) return refused(shape_refusal);
  const int32_t cols = static_cast<int32_t>(r.cols);
  if (!result_addressable(shape.taps, cols)) return refused(kResultTooLarge);
  return {kNoRefusal, static_cast<int32_t>(element_count(spinds)), cols, shape};
}

}  // namespace spike_bins
