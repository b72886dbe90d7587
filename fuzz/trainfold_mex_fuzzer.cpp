// Fuzz target of the trainfold_mex gateway: the module built against the
// stand-in host, loaded with the stand-in loader and called through its
// mexFunction with arbitrary argument counts, classes, shapes and values.
// Every call must end in a host error (with the exact messages for a wrong
// argument count and for spike times in more than one column) or return
// exactly reference_spike_sum's bits; a call the reference can serve must
// succeed.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

namespace {

const char kArgumentCountMessage[] =
    "needs 3 input args:  trainfold_mex(spinds, h_currents, twin)";
const char kColumnMessage[] =
    "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!";

// The outcome the call must have, worked out from the arguments alone; false
// when the result would be too large to be worth making.
bool expected_outcome(const FuzzCall &call, ExpectedOutcome *expected) {
  *expected = ExpectedOutcome{true, "", 0, 0, {}};
  if (call.arguments.size() != 3) {
    expected->message = kArgumentCountMessage;
    return true;
  }
  const FuzzArgument &spinds = call.arguments[0];
  const FuzzArgument &h_currents = call.arguments[1];
  const FuzzArgument &twin_argument = call.arguments[2];
  // Column count compared in full: 2^32 + 1 columns are not one column.
  if (spinds.columns > 1) {
    expected->message = kColumnMessage;
    return true;
  }
  if (!spinds.full_double || !h_currents.full_double ||
      !twin_argument.full_double || twin_argument.elements < 2 ||
      spinds.rows > INT32_MAX || h_currents.rows > INT32_MAX ||
      h_currents.columns > INT32_MAX) {
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
  if (rows < 0 || rows > INT32_MAX) {
    return true;
  }
  const int32_t taps = static_cast<int32_t>(h_currents.rows);
  const int32_t filters = static_cast<int32_t>(h_currents.columns);
  const int64_t count = rows * filters;
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = static_cast<size_t>(rows);
  expected->columns = h_currents.columns;
  expected->values.assign(static_cast<size_t>(count), 0.0);
  // A column with rows but no column holds no spike times.
  reference_spike_sum(real_doubles(spinds),
                      static_cast<int32_t>(spinds.elements),
                      real_doubles(h_currents), taps, filters, twin[0], twin[1],
                      expected->values.data());
  return true;
}

// The module, loaded on first use and kept for the life of the process.
const StandinModule &trainfold_mex_module() {
  static StandinModule module{nullptr, nullptr};
  return load_module_once(FUZZ_MODULE_PATH, &module);
}

}  // namespace

// Loads the module before fuzzing starts, so that libFuzzer lists its
// coverage counters with the others from the first input on.
extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
  trainfold_mex_module();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const StandinModule &trainfold_mex = trainfold_mex_module();
  FuzzBytes in{data, size, 0};
  const FuzzCall call = take_call(
      &in, {ValueKind::spike_time, ValueKind::sample, ValueKind::window_end});
  ExpectedOutcome expected;
  if (expected_outcome(call, &expected)) {
    call_and_check(trainfold_mex, call, expected);
  }
  return 0;
}
