// Fuzz target of the trainfold_pop gateway: the module built against the
// stand-in host, loaded with the stand-in loader and called through its
// mexFunction with arbitrary argument counts, classes, shapes and values.
// Every call must end in a host error (with the exact messages where the
// outcome names one) or return exactly reference_pop_sum's bits for the real
// double data of its arguments (ids numbered from 1); a call the reference
// can serve must succeed.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

namespace {

const char kArgumentCountMessage[] =
    "trainfold_pop needs 5 input args: spinds, ids, h_currents, twin, "
    "nsources";
const char kColumnMessage[] =
    "spinds must be a column vector of spike times (one column)";
const char kBadIdMessage[] =
    "ids must be whole numbers from 1 to nsources (not NaN or Inf)";

bool expected_outcome(const FuzzCall &call, ExpectedOutcome *expected) {
  *expected = ExpectedOutcome{true, "", 0, 0, {}};
  if (call.arguments.size() != 5) {
    expected->message = kArgumentCountMessage;
    return true;
  }
  const FuzzArgument &spinds = call.arguments[0];
  const FuzzArgument &ids = call.arguments[1];
  const FuzzArgument &h = call.arguments[2];
  const FuzzArgument &twin_argument = call.arguments[3];
  const FuzzArgument &nsources_argument = call.arguments[4];
  if (spinds.columns > 1) {
    expected->message = kColumnMessage;
    return true;
  }
  if (ids.columns > 1 || !spinds.full_double || !ids.full_double ||
      !h.full_double || !twin_argument.full_double ||
      !nsources_argument.full_double || twin_argument.elements < 2 ||
      nsources_argument.elements == 0 || spinds.rows > INT32_MAX ||
      ids.rows > INT32_MAX || h.rows > INT32_MAX || h.columns > INT32_MAX ||
      ids.elements != spinds.elements) {
    return true;
  }
  const double *twin = real_doubles(twin_argument);
  int32_t first = 0;
  int32_t last = 0;
  if (!reference_window_bin(twin[0], &first) ||
      !reference_window_bin(twin[1], &last)) {
    return true;
  }
  const int64_t rows = reference_window_rows(first, last);
  int32_t sources = 0;
  if (rows < 0 || rows > INT32_MAX ||
      !reference_source_count(real_doubles(nsources_argument)[0], &sources) ||
      h.columns % static_cast<size_t>(sources) != 0) {
    return true;
  }
  const int32_t b = static_cast<int32_t>(spinds.elements);
  if (!reference_source_ids(real_doubles(ids), b, sources, 1)) {
    expected->message = kBadIdMessage;
    return true;
  }
  const int32_t outputs = static_cast<int32_t>(h.columns) / sources;
  const int64_t count = rows * outputs;
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = static_cast<size_t>(rows);
  expected->columns = static_cast<size_t>(outputs);
  expected->values.assign(static_cast<size_t>(count), 0.0);
  reference_pop_sum(real_doubles(spinds), real_doubles(ids), b, real_doubles(h),
                    static_cast<int32_t>(h.rows), sources, outputs, 1, twin[0],
                    twin[1], expected->values.data());
  return true;
}

const StandinModule &trainfold_pop_module() {
  static StandinModule module{nullptr, nullptr};
  return load_module_once(FUZZ_MODULE_PATH, &module);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
  trainfold_pop_module();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const StandinModule &module = trainfold_pop_module();
  FuzzBytes in{data, size, 0};
  const FuzzCall call = take_call(
      &in, {ValueKind::spike_time, ValueKind::source_id, ValueKind::sample,
            ValueKind::window_end, ValueKind::bin_count});
  ExpectedOutcome expected;
  if (expected_outcome(call, &expected)) {
    call_and_check(module, call, expected);
  }
  return 0;
}
