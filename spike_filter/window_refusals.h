// Refusals of the spike times and the window, shared by the checks of
// trainfold_mex and trainfold_adjoint (see common/arg_check.h).
#ifndef SPIKE_FILTER_WINDOW_REFUSALS_H
#define SPIKE_FILTER_WINDOW_REFUSALS_H

#include "common/arg_check.h"
#include "spike_filter/spike_filter_sum.h"

namespace spike_bins {

inline constexpr auto kSpindsType = matrix_type_refusal("spinds");

// Spike times in more than one column: the gateways' texts are their own,
// Python's is one.
template <std::size_t M>
constexpr auto spinds_column_refusal(const char (&mex_text)[M]) {
  return refusal(
      RefusalKind::arg_value, join(mex_text),
      join("spinds must be a 1-D array or a single column of spike times"));
}
inline constexpr auto kTwinType = values_type_refusal("twin");
inline constexpr Refusal kTwinCount{
    RefusalKind::arg_value,
    "twin must hold two values, the first and last bin of the window",
    "twin must hold two values, the first and last bin of the window"};

// The refusal of a window spike_window did not accept (status not ok).
inline constexpr Refusal window_refusal(SpikeWindowStatus status) {
  if (status == SpikeWindowStatus::bad_end) {
    return {RefusalKind::arg_value,
            "twin values must be numbers within the 32-bit integer range "
            "(not NaN or Inf)",
            "twin values must be numbers within the 32-bit integer range "
            "(not NaN or Inf)"};
  }
  if (status == SpikeWindowStatus::negative_rows) {
    return {RefusalKind::arg_value,
            "twin(2) must be at least twin(1) - 1 (the window would have a "
            "negative number of rows)",
            "twin[1] must be at least twin[0] - 1 (the window would have a "
            "negative number of rows)"};
  }
  return {RefusalKind::arg_value,
          "the window twin(1) .. twin(2) has more than 2^31 - 1 bins",
          "the window twin[0] .. twin[1] has more than 2^31 - 1 bins"};
}

}  // namespace spike_bins

#endif  // SPIKE_FILTER_WINDOW_REFUSALS_H
