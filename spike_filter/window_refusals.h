// Refusals of the spike times, the window, the filters, r and ntaps, shared
// by the checks of trainfold_mex, trainfold_adjoint, trainfold_pop and
// trainfold_pop_adjoint (see common/arg_check.h).
#ifndef SPIKE_FILTER_WINDOW_REFUSALS_H
#define SPIKE_FILTER_WINDOW_REFUSALS_H

#include "common/arg_check.h"
#include "spike_filter/spike_filter_sum.h"
#include "spike_filter/spike_filter_sum_adjoint.h"

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
inline constexpr auto kSpindsNotColumn = spinds_column_refusal(
    "spinds must be a column vector of spike times (one column)");
inline constexpr auto kTwinType = values_type_refusal("twin");
inline constexpr auto kFiltersType = matrix_type_refusal("h_currents");
inline constexpr auto kFiltersDims = dims_refusal("h_currents", "filter");
inline constexpr auto kRType = matrix_type_refusal("r");
inline constexpr auto kRDims = dims_refusal("r", "column");
inline constexpr auto kNtapsType = scalar_type_refusal("ntaps");
inline constexpr auto kNtapsEmpty =
    empty_refusal("ntaps", "the number of filter taps");
inline constexpr Refusal kNtapsRange{
    RefusalKind::arg_value,
    "ntaps must be a whole number from 0 to 2^31 - 1 (not negative, "
    "fractional, NaN or Inf)",
    "ntaps must be a whole number from 0 to 2^31 - 1 (not negative, "
    "fractional, NaN or Inf)"};
inline constexpr Refusal kRRows{
    RefusalKind::arg_value,
    "r must have one row per bin of the window: fix(twin(2)) - fix(twin(1)) "
    "+ 1 rows",
    "r must have one row per bin of the window: int(twin[1]) - int(twin[0]) "
    "+ 1 rows"};
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

// The refusal of an adjoint's window, tap count and r rows that
// spike_adjoint_shape did not accept; kind none when it did.
inline constexpr Refusal adjoint_shape_refusal(const SpikeAdjointShape &shape) {
  switch (shape.status) {
    case SpikeAdjointShapeStatus::ok:
      break;
    case SpikeAdjointShapeStatus::bad_window:
      return window_refusal(shape.window.status);
    case SpikeAdjointShapeStatus::bad_tap_count:
      return kNtapsRange;
    case SpikeAdjointShapeStatus::wrong_input_rows:
      return kRRows;
  }
  return kNoRefusal;
}

}  // namespace spike_bins

#endif  // SPIKE_FILTER_WINDOW_REFUSALS_H
