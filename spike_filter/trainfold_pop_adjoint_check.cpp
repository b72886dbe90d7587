#include "spike_filter/trainfold_pop_adjoint_check.h"

#include "spike_filter/pop_refusals.h"
#include "spike_filter/window_refusals.h"

namespace spike_bins {

namespace {

constexpr auto kArgCount = arg_count_refusal(
    "trainfold_pop_adjoint", "6", "spinds, ids, r, twin, ntaps, nsources");
constexpr auto kSizes = size_refusal("spinds, ids or r");
constexpr Refusal kResultColumns{
    RefusalKind::arg_value,
    "the result would have more than 2^31 - 1 columns (nsources * size(r, 2))",
    "the result would have more than 2^31 - 1 columns (nsources * "
    "r.shape[1])"};

TrainfoldPopAdjointCall refused(const Refusal &refusal) {
  return {refusal,
          0,
          {SpikeAdjointShapeStatus::ok, {SpikeWindowStatus::ok, 0, 0, 0}, 0},
          {PopSourcesStatus::ok, 0, 0, 0}};
}

}  // namespace

TrainfoldPopAdjointCall trainfold_pop_adjoint_check(
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
  if (r.extra_dims) return refused(kRDims);
  if (!dims_fit_int32(spinds) || !dims_fit_int32(ids) || !dims_fit_int32(r)) {
    return refused(kSizes);
  }
  if (element_count(ids) != element_count(spinds)) return refused(kIdsLength);
  const SpikeAdjointShape shape = spike_adjoint_shape(
      twin_first_two, ntaps_first, static_cast<int32_t>(r.rows));
  const Refusal shape_refusal = adjoint_shape_refusal(shape);
  if (shape_refusal.kind != RefusalKind::none) return refused(shape_refusal);
  const PopSources pop =
      pop_sources_of_outputs(nsources_first, static_cast<int32_t>(r.cols));
  if (pop.status == PopSourcesStatus::bad_count) {
    return refused(kNsourcesRange);
  }
  if (pop.status != PopSourcesStatus::ok) return refused(kResultColumns);
  return {kNoRefusal, static_cast<int32_t>(element_count(spinds)), shape, pop};
}

TrainfoldPopAdjointCall trainfold_pop_adjoint_check_ids(
    const TrainfoldPopAdjointCall &call, const double *ids, int32_t base) {
  if (call.refusal.kind != RefusalKind::none) return call;
  const Refusal id_refusal =
      source_id_refusal(ids, call.spike_count, call.pop.sources, base);
  if (id_refusal.kind != RefusalKind::none) return refused(id_refusal);
  if (!result_addressable(call.shape.taps, call.pop.filters)) {
    return refused(kResultTooLarge);
  }
  return call;
}

}  // namespace spike_bins
