// Shared part of the gateway fuzz targets: decoding fuzz bytes into a
// call of a module through the stand-in host (argument count, result count,
// and arguments of any class, complexity, sparsity and shape, huge and empty
// ones included), making the call, and the checks every call must pass.
//
// The stand-in host sizes each data buffer exactly to the array's stored
// elements, so a gateway that reads past an argument's data (or reads a
// single, int8 or sparse array as full doubles) is caught by AddressSanitizer.
//
// Input layout: argument-count byte, result-count byte, then per argument a
// kind byte, a shape byte, the dimensions and the values (see take_argument).
#ifndef FUZZ_GATEWAY_FUZZ_SUPPORT_H
#define FUZZ_GATEWAY_FUZZ_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_decode.h"
#include "reference_kernels.h"
#include "standin_host.h"
#include "tests/support/module_loader.h"

// How the values of an argument are decoded: what the argument stands for.
enum class ValueKind { sample, bin_count, spike_time, window_end, source_id };

// One argument of the call, with the facts the checks need.
struct FuzzArgument {
  const mxArray *array;
  bool full_double;  // double class and not sparse (complex allowed)
  size_t rows;       // mxGetM
  size_t columns;    // mxGetN: product of every dimension after the first
  size_t elements;   // rows * columns
  std::vector<uint8_t> real_bytes;  // the real data before the call
};

struct FuzzCall {
  int nlhs;
  std::vector<StandinArray> owned;  // every array made for the call
  std::vector<FuzzArgument> arguments;
};

inline double take_kind_value(FuzzBytes *in, ValueKind kind, double previous,
                              size_t index) {
  switch (kind) {
    case ValueKind::bin_count:
      return take_bin_count(in);
    case ValueKind::spike_time:
      return take_spike_time(in, 0, 20, 4);
    case ValueKind::window_end:
      return take_window_end(in, previous, index > 0);
    case ValueKind::source_id: {  // mostly 0 .. 4, sometimes any value
      const uint8_t byte = take_byte(in);
      return byte < 0xf0 ? byte % 5 : take_value(in);
    }
    case ValueKind::sample:
      break;
  }
  return take_value(in);
}

inline StandinClass integer_class(uint8_t byte) {
  static constexpr StandinClass kIntegers[] = {
      StandinClass::int8_class,  StandinClass::uint8_class,
      StandinClass::int16_class, StandinClass::uint16_class,
      StandinClass::int32_class, StandinClass::uint32_class,
      StandinClass::int64_class, StandinClass::uint64_class};
  return kIntegers[byte % 8];
}

// Dimensions of which mxGetM or mxGetN goes beyond 2^31 - 1 (2^32 + 1 would
// read as 1 if truncated to 32 bits).
inline std::vector<size_t> take_huge_dims(FuzzBytes *in) {
  static constexpr size_t kBig[] = {
      size_t{1} << 31,       (size_t{1} << 31) + 1, size_t{1} << 32,
      (size_t{1} << 32) + 1, (size_t{1} << 32) + 3, size_t{1} << 40};
  const uint8_t byte = take_byte(in);
  const size_t big = kBig[byte % 6];
  const size_t small = static_cast<size_t>(take_count(in, 3, 3));
  switch ((byte >> 4) % 4) {
    case 0:
      return {big, small};
    case 1:
      return {small, big};
    case 2:
      return {small, size_t{1} << 16, size_t{1} << 16};  // N = 2^32
    default:
      return {small, size_t{1} << 16, size_t{1} << 15};  // N = 2^31
  }
}

// Decodes the next argument and appends it to the call.
//   kind byte: bits 0-3 class (0-8 double, 9 single, 10 an integer class
//     named by the next byte, 11 logical, 12 char, 13 cell, 14 struct, 15 the
//     same array as an earlier argument), bit 4 complex, bit 5 sparse
//     (doubles), bit 6 huge (dimensions beyond 2^31 - 1, two values stored)
//   shape byte: 0-3 dimensions (none gives 1 x 1), each a count byte
//   values: one per stored element, decoded by value_kind for doubles, raw
//     bytes for other numeric classes, logical and char
inline void take_argument(FuzzBytes *in, ValueKind value_kind, FuzzCall *call) {
  const uint8_t kind = take_byte(in);
  const uint8_t class_bits = kind & 0x0f;
  if (class_bits == 15 && !call->arguments.empty()) {
    const FuzzArgument &earlier =
        call->arguments[take_byte(in) % call->arguments.size()];
    call->arguments.push_back(earlier);
    return;
  }
  StandinClass array_class = StandinClass::double_class;
  if (class_bits == 9) array_class = StandinClass::single_class;
  if (class_bits == 10) array_class = integer_class(take_byte(in));
  if (class_bits == 11) array_class = StandinClass::logical_class;
  if (class_bits == 12) array_class = StandinClass::char_class;
  if (class_bits == 13) array_class = StandinClass::cell_class;
  if (class_bits == 14) array_class = StandinClass::struct_class;
  const bool numeric = array_class != StandinClass::logical_class &&
                       array_class != StandinClass::char_class &&
                       array_class != StandinClass::cell_class &&
                       array_class != StandinClass::struct_class;
  const bool is_double = array_class == StandinClass::double_class;
  const bool huge = (kind & 0x40) != 0;
  const bool sparse = !huge && is_double && (kind & 0x20) != 0;
  const mxComplexity complexity =
      !huge && numeric && (kind & 0x10) != 0 ? mxCOMPLEX : mxREAL;

  std::vector<size_t> dims;
  if (huge) {
    dims = take_huge_dims(in);
  } else {
    const int dim_count = take_byte(in) % 4;
    for (int i = 0; i < dim_count; ++i) {
      dims.push_back(static_cast<size_t>(take_count(in, 5, 40)));
    }
  }
  mxArray *array = nullptr;
  if (huge) {
    array = standin_create_huge_array(array_class, dims, 2);
  } else if (sparse) {
    const size_t rows = dims.empty() ? 1 : dims[0];
    const size_t columns = dims.size() < 2 ? 1 : dims[1];
    array = standin_create_sparse(rows, columns, take_byte(in) % 4, complexity);
  } else {
    array = standin_create_array(array_class, dims, complexity);
  }
  call->owned.emplace_back(array);

  const size_t stored = standin_stored_elements(array);
  const size_t element_size = standin_element_size(array_class);
  for (void *buffer : {standin_real_data(array), standin_imag_data(array)}) {
    if (buffer == nullptr) {
      continue;
    }
    if (is_double) {
      double *values = static_cast<double *>(buffer);
      double previous = 0.0;
      for (size_t i = 0; i < stored; ++i) {
        values[i] = take_kind_value(in, value_kind, previous, i);
        previous = values[i];
      }
    } else {
      uint8_t *bytes = static_cast<uint8_t *>(buffer);
      for (size_t i = 0; i < stored * element_size; ++i) {
        bytes[i] = take_byte(in);
      }
    }
  }

  const std::vector<size_t> actual_dims = standin_dims(array);
  size_t columns = 1;
  for (size_t i = 1; i < actual_dims.size(); ++i) {
    columns *= actual_dims[i];
  }
  FuzzArgument argument{array,   is_double && !sparse,     actual_dims[0],
                        columns, actual_dims[0] * columns, {}};
  const uint8_t *real = static_cast<const uint8_t *>(standin_real_data(array));
  if (real != nullptr) {
    argument.real_bytes.assign(real, real + stored * element_size);
  }
  call->arguments.push_back(argument);
}

// Decodes the argument count (mostly the expected one), the result count and
// the arguments, value kinds by position (kinds.size() is the expected count).
inline FuzzCall take_call(FuzzBytes *in, const std::vector<ValueKind> &kinds) {
  FuzzCall call;
  const uint8_t count_byte = take_byte(in);
  const size_t nrhs = count_byte < 0xc0 ? kinds.size() : count_byte % 6;
  call.nlhs = take_byte(in) % 4;
  for (size_t i = 0; i < nrhs; ++i) {
    take_argument(in, i < kinds.size() ? kinds[i] : ValueKind::sample, &call);
  }
  return call;
}

// The real doubles of a full double argument (null when it has none).
inline const double *real_doubles(const FuzzArgument &argument) {
  return static_cast<const double *>(standin_real_data(argument.array));
}

// What a call must give: a refusal (with this exact message, when not empty)
// or a rows x columns double result holding these bits.
// The row count of the window that twin's first two values give, as the
// spike-train gateways work it out; -1 when either end has no 32-bit bin (a
// NaN, +-Inf or a value out of range), which they refuse. Counts below zero
// or beyond 2^31 - 1 are refused too; the caller tests them.
inline int64_t expected_window_rows(const double *twin) {
  int32_t first = 0;
  int32_t last = 0;
  if (!reference_window_bin(twin[0], &first) ||
      !reference_window_bin(twin[1], &last)) {
    return -1;
  }
  return reference_window_rows(first, last);
}

struct ExpectedOutcome {
  bool refused;
  std::string message;
  size_t rows;
  size_t columns;
  std::vector<double> values;
};

// Makes the call and checks it: a refusal creates nothing and leaves every
// result slot alone; a success creates exactly the result, in slot 0 only,
// with the expected size and bits; the arguments are never written.
inline void call_and_check(const StandinModule &module, const FuzzCall &call,
                           const ExpectedOutcome &expected) {
  char marker_storage = 0;
  mxArray *const marker = reinterpret_cast<mxArray *>(&marker_storage);
  // Exactly sized, so that a gateway touching a slot beyond them overruns.
  std::vector<mxArray *> plhs(
      static_cast<size_t>(call.nlhs > 1 ? call.nlhs : 1), marker);
  std::vector<const mxArray *> prhs;
  for (const FuzzArgument &argument : call.arguments) {
    prhs.push_back(argument.array);
  }
  const StandinCallResult result = standin_call(
      module, call.nlhs, plhs.data(), static_cast<int>(prhs.size()),
      prhs.empty() ? nullptr : prhs.data());

  for (const FuzzArgument &argument : call.arguments) {
    const void *real = standin_real_data(argument.array);
    if (!argument.real_bytes.empty() &&
        std::memcmp(real, argument.real_bytes.data(),
                    argument.real_bytes.size()) != 0) {
      fuzz_fail("the call wrote into an argument");
    }
  }
  for (size_t slot = 1; slot < plhs.size(); ++slot) {
    if (plhs[slot] != marker) {
      fuzz_fail("the call set result slot %zu", slot);
    }
  }
  if (expected.refused) {
    if (result.ok) {
      standin_destroy_array(plhs[0] == marker ? nullptr : plhs[0]);
      fuzz_fail(
          "the call succeeded; it should have been refused%s%s",
          expected.message.empty() ? "" : " with: ", expected.message.c_str());
    }
    if (!expected.message.empty() && result.error_message != expected.message) {
      fuzz_fail("refused with \"%s\", expected \"%s\"",
                result.error_message.c_str(), expected.message.c_str());
    }
    if (result.error_message.empty()) {
      fuzz_fail("refused with an empty message");
    }
    if (result.arrays_created != 0 || plhs[0] != marker) {
      fuzz_fail("refused after creating %d arrays (slot 0 %s)",
                result.arrays_created, plhs[0] == marker ? "untouched" : "set");
    }
    return;
  }
  if (!result.ok) {
    fuzz_fail("refused with \"%s\"; a %zu x %zu result was expected",
              result.error_message.c_str(), expected.rows, expected.columns);
  }
  if (plhs[0] == marker || plhs[0] == nullptr) {
    fuzz_fail("the call returned without setting result slot 0");
  }
  const StandinArray output(plhs[0]);
  if (result.arrays_created != 1) {
    fuzz_fail("the call created %d arrays", result.arrays_created);
  }
  if (standin_array_class(output.get()) != StandinClass::double_class ||
      standin_is_complex(output.get())) {
    fuzz_fail("the result is not a real double array");
  }
  const std::vector<size_t> dims = standin_dims(output.get());
  if (dims != std::vector<size_t>{expected.rows, expected.columns}) {
    fuzz_fail("the result is %zu x %zu (%zu dims), expected %zu x %zu", dims[0],
              dims[1], dims.size(), expected.rows, expected.columns);
  }
  const std::vector<double> values = standin_double_values(output.get());
  check_same_bits(expected.values.data(), values.data(),
                  static_cast<int64_t>(expected.values.size()), "the result");
}

// One call decoded from in (argument count, mostly the expected one, result
// count and arguments, decoded by kinds) and checked: a wrong argument count
// is refused with count_message, a right one as expected_result says (it
// starts from a refusal with any message and returns false when the call is
// not worth making).
template <typename ExpectedResult>
void fuzz_gateway_call(const StandinModule &module, FuzzBytes *in,
                       const std::vector<ValueKind> &kinds,
                       const char *count_message,
                       ExpectedResult expected_result) {
  const FuzzCall call = take_call(in, kinds);
  ExpectedOutcome expected{true, "", 0, 0, {}};
  if (call.arguments.size() != kinds.size()) {
    expected.message = count_message;
  } else if (!expected_result(call, &expected)) {
    return;
  }
  call_and_check(module, call, expected);
}

#endif  // FUZZ_GATEWAY_FUZZ_SUPPORT_H
