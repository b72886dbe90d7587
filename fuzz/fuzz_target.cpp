// The one fuzz target, built once for each kernel and each module of the
// module list (fuzz/CMakeLists.txt). FUZZ_CASES names the target's cases,
// fuzz/cases/<kernel or module>.h:
//   a kernel's define fuzz_one(FuzzBytes *), which decodes one case and
//     checks the kernel against the reference;
//   a module's (built with FUZZ_MODULE_PATH, the module made for the stand-in
//     host) define kArgumentCountMessage, kArgumentKinds (how each
//     argument's values are decoded) and expected_result, the outcome of a
//     call with the right argument count; the call itself and the checks
//     every call must pass are gateway_fuzz_support.h's.
#include <cstddef>
#include <cstdint>

#include "fuzz_decode.h"
#include FUZZ_CASES

#if defined(FUZZ_MODULE_PATH)
namespace {

// The module, loaded on first use and kept for the life of the process.
const StandinModule &fuzzed_module() {
  static StandinModule module{nullptr, nullptr};
  return load_module_once(FUZZ_MODULE_PATH, &module);
}

}  // namespace

// Loads the module before fuzzing starts, so that libFuzzer lists its
// coverage counters with the others from the first input on.
extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
  fuzzed_module();
  return 0;
}
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzBytes in{data, size, 0};
#if defined(FUZZ_MODULE_PATH)
  fuzz_gateway_call(fuzzed_module(), &in, kArgumentKinds, kArgumentCountMessage,
                    expected_result);
#else
  fuzz_one(&in);
#endif
  return 0;
}
