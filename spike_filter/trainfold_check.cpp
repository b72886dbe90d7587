#include "spike_filter/trainfold_check.h"

#include "spike_filter/window_refusals.h"

namespace spike_bins {

namespace {

// The gateway's count and column messages are the module's own.
constexpr auto kArgCount = arg_count_refusal(
    join("needs 3 input args:  trainfold_mex(spinds, h_currents, twin)"),
    "trainfold", "3", "spinds, h_currents, twin");
constexpr auto kNotColumn = spinds_column_refusal(
    "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!");
constexpr auto kSizes = size_refusal("spinds or h_currents");

TrainfoldCall refused(const Refusal &refusal) {
  return {refusal, 0, 0, 0, {SpikeWindowStatus::ok, 0, 0, 0}};
}

}  // namespace

TrainfoldCall trainfold_check(int arg_count, const ArgInfo &spinds,
                              const ArgInfo &h_currents, const ArgInfo &twin,
                              const double *twin_first_two) {
  if (arg_count != 3) return refused(kArgCount);
  // Compared in the host's width, so that a column count beyond 2^31 cannot
  // wrap to 1 and pass.
  if (spinds.cols > 1) return refused(kNotColumn);
  if (!spinds.numeric) return refused(kSpindsType);
  if (!h_currents.numeric) return refused(kFiltersType);
  if (!twin.numeric) return refused(kTwinType);
  if (element_count(twin) < 2) return refused(kTwinCount);
  if (h_currents.extra_dims) return refused(kFiltersDims);
  if (!dims_fit_int32(spinds) || !dims_fit_int32(h_currents)) {
    return refused(kSizes);
  }
  const SpikeWindow window = spike_window(twin_first_two);
  if (window.status != SpikeWindowStatus::ok) {
    return refused(window_refusal(window.status));
  }
  const int32_t filters = static_cast<int32_t>(h_currents.cols);
  if (!result_addressable(window.rows, filters)) {
    return refused(kResultTooLarge);
  }
  return {kNoRefusal, static_cast<int32_t>(element_count(spinds)),
          static_cast<int32_t>(h_currents.rows), filters, window};
}

}  // namespace spike_bins
