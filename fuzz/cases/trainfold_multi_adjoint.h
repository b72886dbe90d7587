// Fuzz cases of the trainfold_multi_adjoint gateway, as trainfold_pop's:
// every call must end in a host error (with the exact argument-count, column
// and id messages where they apply) or return exactly
// reference_multi_sum_adjoint's bits (ids numbered from 1); a call the
// reference can serve must succeed.
#ifndef FUZZ_CASES_TRAINFOLD_MULTI_ADJOINT_H
#define FUZZ_CASES_TRAINFOLD_MULTI_ADJOINT_H

#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

inline const std::vector<ValueKind> kArgumentKinds = {
    ValueKind::spike_time, ValueKind::source_id, ValueKind::sample,
    ValueKind::window_end, ValueKind::bin_count, ValueKind::bin_count};

inline constexpr char kArgumentCountMessage[] =
    "trainfold_multi_adjoint needs 6 input args: spinds, ids, r, twin, ntaps, "
    "nsources";
inline constexpr char kColumnMessage[] =
    "spinds must be a column vector of spike times (one column)";
inline constexpr char kBadIdMessage[] =
    "ids must be whole numbers from 1 to nsources (not NaN or Inf)";

// The outcome of a call with the right argument count, worked out from the
// arguments alone (expected starts as a refusal with any message); false
// when the result would be too large to be worth making.
inline bool expected_result(const FuzzCall &call, ExpectedOutcome *expected) {
  const FuzzArgument &spinds = call.arguments[0];
  const FuzzArgument &ids = call.arguments[1];
  const FuzzArgument &r = call.arguments[2];
  const FuzzArgument &twin_argument = call.arguments[3];
  const FuzzArgument &ntaps_argument = call.arguments[4];
  const FuzzArgument &nsources_argument = call.arguments[5];
  if (spinds.columns > 1) {
    expected->message = kColumnMessage;
    return true;
  }
  if (ids.columns > 1 || !spinds.full_double || !ids.full_double ||
      !r.full_double || !twin_argument.full_double ||
      !ntaps_argument.full_double || !nsources_argument.full_double ||
      twin_argument.elements < 2 || ntaps_argument.elements == 0 ||
      nsources_argument.elements == 0 || spinds.rows > INT32_MAX ||
      ids.rows > INT32_MAX || r.rows > INT32_MAX || r.columns > INT32_MAX ||
      ids.elements != spinds.elements) {
    return true;
  }
  const double *twin = real_doubles(twin_argument);
  const int64_t bins = expected_window_rows(twin);
  int32_t taps = 0;
  int32_t sources = 0;
  if (bins < 0 || bins > INT32_MAX ||
      !reference_tap_count(real_doubles(ntaps_argument)[0], &taps) ||
      static_cast<int64_t>(r.columns) != bins ||
      !reference_source_count(real_doubles(nsources_argument)[0], &sources) ||
      int64_t{sources} * taps > INT32_MAX) {
    return true;
  }
  const int32_t b = static_cast<int32_t>(spinds.elements);
  if (!reference_source_ids(real_doubles(ids), b, sources, 1)) {
    expected->message = kBadIdMessage;
    return true;
  }
  const int32_t targets = static_cast<int32_t>(r.rows);
  const int64_t count = int64_t{targets} * taps * sources;
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = static_cast<size_t>(targets);
  expected->columns = static_cast<size_t>(taps) * sources;
  expected->values.assign(static_cast<size_t>(count), 0.0);
  reference_multi_sum_adjoint(real_doubles(spinds), real_doubles(ids), b,
                              real_doubles(r), targets, taps, sources, 1,
                              twin[0], twin[1], expected->values.data());
  return true;
}

#endif  // FUZZ_CASES_TRAINFOLD_MULTI_ADJOINT_H
