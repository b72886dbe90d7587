// Fuzz target of the tentfill2_adjoint gateway: the module built against the
// stand-in host, loaded with the stand-in loader and called through its
// mexFunction with arbitrary argument counts, classes, shapes and values.
// Every call must end in a host error (with the exact argument-count message
// when the count is wrong) or return exactly reference_upsample_adjoint's
// bits for the real double data of r; a call the reference can serve must
// succeed.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

namespace {

const char kArgumentCountMessage[] =
    "tentfill2_adjoint needs 2 input args: r, nbns";

// The outcome the call must have, worked out from the arguments alone; false
// when the result would be too large to be worth making.
bool expected_outcome(const FuzzCall &call, ExpectedOutcome *expected) {
  *expected = ExpectedOutcome{true, "", 0, 0, {}};
  if (call.arguments.size() != 2) {
    expected->message = kArgumentCountMessage;
    return true;
  }
  const FuzzArgument &r = call.arguments[0];
  const FuzzArgument &nbns_argument = call.arguments[1];
  if (!r.full_double || !nbns_argument.full_double ||
      nbns_argument.elements == 0 || r.rows > INT32_MAX ||
      r.columns > INT32_MAX) {
    return true;
  }
  const double nbns = real_doubles(nbns_argument)[0];
  int32_t bins = 0;
  if (!reference_adjoint_bins_per_sample(nbns, &bins) || r.rows % bins != 0) {
    return true;
  }
  const int32_t rows = static_cast<int32_t>(r.rows);
  const int32_t columns = static_cast<int32_t>(r.columns);
  const int64_t output_rows = rows / bins;
  const int64_t count = output_rows * columns;
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = static_cast<size_t>(output_rows);
  expected->columns = r.columns;
  expected->values.assign(static_cast<size_t>(count), 0.0);
  reference_upsample_adjoint(real_doubles(r), rows, columns, nbns,
                             expected->values.data());
  return true;
}

// The module, loaded on first use and kept for the life of the process.
const StandinModule &tentfill2_adjoint_module() {
  static StandinModule module{nullptr, nullptr};
  return load_module_once(FUZZ_MODULE_PATH, &module);
}

}  // namespace

// Loads the module before fuzzing starts, so that libFuzzer lists its
// coverage counters with the others from the first input on.
extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
  tentfill2_adjoint_module();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const StandinModule &module = tentfill2_adjoint_module();
  FuzzBytes in{data, size, 0};
  const FuzzCall call =
      take_call(&in, {ValueKind::sample, ValueKind::bin_count});
  ExpectedOutcome expected;
  if (expected_outcome(call, &expected)) {
    call_and_check(module, call, expected);
  }
  return 0;
}
