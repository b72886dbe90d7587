// Refusals of the spike times, the filters, the residual, the tap count and
// the window, shared by the checks of the trainfold modules (see
// common/arg_check.h).
#ifndef SPIKE_FILTER_WINDOW_REFUSALS_H
#define SPIKE_FILTER_WINDOW_REFUSALS_H

#include "common/arg_check.h"
#include "spike_filter/spike_filter_sum.h"

inline constexpr Refusal kSpindsType{
    RefusalKind::arg_type, "spinds must be a full (non-sparse) double array",
    "spinds must be an array of real numbers (bool, integer or float; not "
    "complex, text, objects or a sparse matrix)"};
inline constexpr Refusal kSpindsNotColumn{
    RefusalKind::arg_value,
    "spinds must be a column vector of spike times (one column)",
    "spinds must be a 1-D array or a single column of spike times"};
inline constexpr Refusal kFiltersType{
    RefusalKind::arg_type,
    "h_currents must be a full (non-sparse) double array",
    "h_currents must be an array of real numbers (bool, integer or float; "
    "not complex, text, objects or a sparse matrix)"};
inline constexpr Refusal kFiltersDims{
    RefusalKind::arg_value,
    "h_currents must have at most 2 dimensions (a 1-D h_currents is one "
    "filter)",
    "h_currents must have at most 2 dimensions (a 1-D h_currents is one "
    "filter)"};
inline constexpr Refusal kRType{
    RefusalKind::arg_type, "r must be a full (non-sparse) double array",
    "r must be an array of real numbers (bool, integer or float; not "
    "complex, text, objects or a sparse matrix)"};
inline constexpr Refusal kRDims{
    RefusalKind::arg_value,
    "r must have at most 2 dimensions (a 1-D r is one column)",
    "r must have at most 2 dimensions (a 1-D r is one column)"};
inline constexpr Refusal kNtapsType{
    RefusalKind::arg_type, "ntaps must be a full (non-sparse) double array",
    "ntaps must be a real number (bool, integer or float; not complex, text "
    "or objects)"};
inline constexpr Refusal kNtapsEmpty{
    RefusalKind::arg_value,
    "ntaps is empty; it must hold the number of filter taps",
    "ntaps is empty; it must hold the number of filter taps"};
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
inline constexpr Refusal kTwinType{
    RefusalKind::arg_type, "twin must be a full (non-sparse) double array",
    "twin must be an array of real numbers (bool, integer or float; not "
    "complex, text or objects)"};
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

#endif  // SPIKE_FILTER_WINDOW_REFUSALS_H
