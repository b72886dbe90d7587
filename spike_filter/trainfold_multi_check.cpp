#include "spike_filter/trainfold_multi_check.h"

#include "spike_filter/pop_refusals.h"
#include "spike_filter/window_refusals.h"

namespace spike_bins {

namespace {

constexpr auto kArgCount = arg_count_refusal(
    "trainfold_multi", "5", "spinds, ids, h_currents, twin, nsources");
constexpr auto kSizes = size_refusal("spinds, ids or h_currents");
constexpr auto kTargetFiltersDims = dims_refusal("h_currents", "target");
constexpr Refusal kTapColumns{
    RefusalKind::arg_value,
    "h_currents must hold the same number of taps for each of nsources "
    "sources: its column count must be a multiple of nsources",
    "h_currents must hold the same number of taps for each of nsources "
    "sources: its column count must be a multiple of nsources"};

TrainfoldMultiCall refused(const Refusal &refusal) {
  return {refusal,
          0,
          0,
          {PopSourcesStatus::ok, 0, 0, 0},
          {SpikeWindowStatus::ok, 0, 0, 0}};
}

}  // namespace

TrainfoldMultiCall trainfold_multi_check(
    int arg_count, const ArgInfo &spinds, const ArgInfo &ids,
    const ArgInfo &h_currents, const ArgInfo &twin, const ArgInfo &nsources,
    const double *twin_first_two, double nsources_first) {
  if (arg_count != 5) return refused(kArgCount);
  // Compared in the host's width, so that a column count beyond 2^31 cannot
  // wrap to 1 and pass.
  if (spinds.cols > 1) return refused(kSpindsNotColumn);
  if (ids.cols > 1) return refused(kIdsNotColumn);
  if (!spinds.numeric) return refused(kSpindsType);
  if (!ids.numeric) return refused(kIdsType);
  if (!h_currents.numeric) return refused(kFiltersType);
  if (!twin.numeric) return refused(kTwinType);
  if (!nsources.numeric) return refused(kNsourcesType);
  if (element_count(twin) < 2) return refused(kTwinCount);
  if (element_count(nsources) == 0) return refused(kNsourcesEmpty);
  if (h_currents.extra_dims) return refused(kTargetFiltersDims);
  if (!dims_fit_int32(spinds) || !dims_fit_int32(ids) ||
      !dims_fit_int32(h_currents)) {
    return refused(kSizes);
  }
  if (element_count(ids) != element_count(spinds)) return refused(kIdsLength);
  const SpikeWindow window = spike_window(twin_first_two);
  if (window.status != SpikeWindowStatus::ok) {
    return refused(window_refusal(window.status));
  }
  const MultiSources multi = multi_sources_of_filters(
      nsources_first, static_cast<int32_t>(h_currents.cols));
  if (multi.status == PopSourcesStatus::bad_count) {
    return refused(kNsourcesRange);
  }
  if (multi.status != PopSourcesStatus::ok) return refused(kTapColumns);
  return {kNoRefusal, static_cast<int32_t>(element_count(spinds)),
          static_cast<int32_t>(h_currents.rows), multi, window};
}

TrainfoldMultiCall trainfold_multi_check_ids(const TrainfoldMultiCall &call,
                                             const double *ids, int32_t base) {
  if (call.refusal.kind != RefusalKind::none) return call;
  const Refusal id_refusal =
      source_id_refusal(ids, call.spike_count, call.multi.sources, base);
  if (id_refusal.kind != RefusalKind::none) return refused(id_refusal);
  if (!result_addressable(call.targets, call.window.rows)) {
    return refused(kResultTooLarge);
  }
  return call;
}

}  // namespace spike_bins
