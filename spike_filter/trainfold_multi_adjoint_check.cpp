#include "spike_filter/trainfold_multi_adjoint_check.h"

#include "spike_filter/pop_refusals.h"
#include "spike_filter/window_refusals.h"

namespace spike_bins {

namespace {

constexpr auto kArgCount = arg_count_refusal(
    "trainfold_multi_adjoint", "6", "spinds, ids, r, twin, ntaps, nsources");
constexpr auto kSizes = size_refusal("spinds, ids or r");
constexpr auto kTargetRDims = dims_refusal("r", "target");
constexpr Refusal kRColumns{
    RefusalKind::arg_value,
    "r must have one column per bin of the window: fix(twin(2)) - "
    "fix(twin(1)) + 1 columns",
    "r must have one column per bin of the window: int(twin[1]) - "
    "int(twin[0]) + 1 columns"};
constexpr Refusal kResultColumns{
    RefusalKind::arg_value,
    "the result would have more than 2^31 - 1 columns (ntaps * nsources)",
    "the result would have more than 2^31 - 1 columns (ntaps * nsources)"};

TrainfoldMultiAdjointCall refused(const Refusal &refusal) {
  return {refusal,
          0,
          0,
          {SpikeAdjointShapeStatus::ok, {SpikeWindowStatus::ok, 0, 0, 0}, 0},
          {PopSourcesStatus::ok, 0, 0, 0}};
}

}  // namespace

TrainfoldMultiAdjointCall trainfold_multi_adjoint_check(
    int arg_count, const ArgInfo &spinds, const ArgInfo &ids, const ArgInfo &r,
    const ArgInfo &twin, const ArgInfo &ntaps, const ArgInfo &nsources,
    const double *twin_first_two, double ntaps_first, double nsources_first) {
  if (arg_count != 6) return refused(kArgCount);
  // Compared in the host's width, so that a column count beyond 2^31 cannot
  // wrap to 1 and pass.
  if (spinds.cols > 1) return refused(kSpindsNotColumn);
  if (ids.cols > 1) return refused(kIdsNotColumn);
  if (!spinds.numeric) return refused(kSpindsType);
  if (!ids.numeric) return refused(kIdsType);
  if (!r.numeric) return refused(kRType);
  if (!twin.numeric) return refused(kTwinType);
  if (!ntaps.numeric) return refused(kNtapsType);
  if (!nsources.numeric) return refused(kNsourcesType);
  if (element_count(twin) < 2) return refused(kTwinCount);
  if (element_count(ntaps) == 0) return refused(kNtapsEmpty);
  if (element_count(nsources) == 0) return refused(kNsourcesEmpty);
  if (r.extra_dims) return refused(kTargetRDims);
  if (!dims_fit_int32(spinds) || !dims_fit_int32(ids) || !dims_fit_int32(r)) {
    return refused(kSizes);
  }
  if (element_count(ids) != element_count(spinds)) return refused(kIdsLength);
  // r's columns are the window's bins: the shape rule's input rows.
  const SpikeAdjointShape shape = spike_adjoint_shape(
      twin_first_two, ntaps_first, static_cast<int32_t>(r.cols));
  if (shape.status == SpikeAdjointShapeStatus::wrong_input_rows) {
    return refused(kRColumns);
  }
  const Refusal shape_refusal = adjoint_shape_refusal(shape);
  if (shape_refusal.kind != RefusalKind::none) return refused(shape_refusal);
  const MultiSources multi = multi_sources_of_taps(nsources_first, shape.taps);
  if (multi.status == PopSourcesStatus::bad_count) {
    return refused(kNsourcesRange);
  }
  if (multi.status != PopSourcesStatus::ok) return refused(kResultColumns);
  return {kNoRefusal, static_cast<int32_t>(element_count(spinds)),
          static_cast<int32_t>(r.rows), shape, multi};
}

TrainfoldMultiAdjointCall trainfold_multi_adjoint_check_ids(
    const TrainfoldMultiAdjointCall &call, const double *ids, int32_t base) {
  if (call.refusal.kind != RefusalKind::none) return call;
  const Refusal id_refusal =
      source_id_refusal(ids, call.spike_count, call.multi.sources, base);
  if (id_refusal.kind != RefusalKind::none) return refused(id_refusal);
  if (!result_addressable(call.targets, call.multi.columns)) {
    return refused(kResultTooLarge);
  }
  return call;
}

}  // namespace spike_bins
