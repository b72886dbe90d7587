// Shared helpers of the gateway tests: the modules loaded once into the
// stand-in host, calls that report message, result and what the call created,
// and bitwise comparison of results.
#ifndef TESTS_GATEWAYS_GATEWAY_TEST_SUPPORT_H
#define TESTS_GATEWAYS_GATEWAY_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "standin_host.h"
#include "tests/support/bits.h"
#include "tests/support/module_loader.h"

inline const StandinModule &tentfill2_module() {
  static StandinModule module{nullptr, nullptr};
  return load_module_once(TENTFILL2_MODULE_PATH, &module);
}

inline const StandinModule &trainfold_mex_module() {
  static StandinModule module{nullptr, nullptr};
  return load_module_once(TRAINFOLD_MEX_MODULE_PATH, &module);
}

inline const StandinModule &tentfill2_adjoint_module() {
  static StandinModule module{nullptr, nullptr};
  return load_module_once(TENTFILL2_ADJOINT_MODULE_PATH, &module);
}

inline const StandinModule &trainfold_adjoint_module() {
  static StandinModule module{nullptr, nullptr};
  return load_module_once(TRAINFOLD_ADJOINT_MODULE_PATH, &module);
}

struct CallOutcome {
  bool ok;
  std::string message;         // the error text when !ok
  StandinArray result;         // plhs[0] after a successful call
  int arrays_created;          // by the module during the call
  int host_queries;            // mx* calls of the module during the call
  bool result_slot_untouched;  // plhs[0] still holds what the caller put
};

// Calls the module with the given arguments; plhs[0] starts as a marker that
// no host array has, so a failed call can be checked not to have set it.
inline CallOutcome call_module(const StandinModule &module,
                               const std::vector<const mxArray *> &args,
                               int nlhs = 1) {
  static char marker_storage;
  mxArray *const marker = reinterpret_cast<mxArray *>(&marker_storage);
  std::vector<mxArray *> plhs(static_cast<size_t>(nlhs > 1 ? nlhs : 1), marker);
  // An exactly sized copy, so reading past nrhs arguments is an overrun.
  std::vector<const mxArray *> prhs(args);
  const StandinCallResult call =
      standin_call(module, nlhs, plhs.data(), static_cast<int>(prhs.size()),
                   prhs.empty() ? nullptr : prhs.data());
  CallOutcome outcome{call.ok,           call.error_message,
                      StandinArray(),    call.arrays_created,
                      call.host_queries, plhs[0] == marker};
  if (call.ok && plhs[0] != marker) {
    outcome.result.reset(plhs[0]);
  }
  return outcome;
}

inline StandinArray doubles(const std::vector<size_t> &dims,
                            const std::vector<double> &values) {
  return StandinArray(standin_create_doubles(dims, values));
}

inline StandinArray column(const std::vector<double> &values) {
  return doubles({values.size(), 1}, values);
}

inline StandinArray row(const std::vector<double> &values) {
  return doubles({1, values.size()}, values);
}

inline StandinArray scalar(double value) { return doubles({1, 1}, {value}); }

inline StandinArray zeros(const std::vector<size_t> &dims) {
  return StandinArray(standin_create_array(StandinClass::double_class, dims));
}

// Mostly ordinary values, now and then a zero of either sign, an infinity, a
// NaN or a subnormal: the gateway must pass every value through unchanged.
inline std::vector<double> random_values(std::mt19937_64 &rng, size_t count) {
  std::uniform_real_distribution<double> value(-100.0, 100.0);
  std::uniform_int_distribution<int> pick(0, 99);
  const double specials[] = {0.0,
                             -0.0,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::denorm_min()};
  std::vector<double> values(count);
  for (double &v : values) {
    const int choice = pick(rng);
    v = choice < 6 ? specials[choice] : value(rng);
  }
  return values;
}

// Index of the first element that is not the same (NaN = any NaN), or -1.
inline long first_bit_difference(const std::vector<double> &expected,
                                 const std::vector<double> &actual) {
  if (expected.size() != actual.size()) {
    return 0;
  }
  return static_cast<long>(first_bit_mismatch(
      expected.data(), actual.data(), static_cast<int64_t>(expected.size())));
}

// A successful call whose result is a rows x cols double matrix holding
// exactly the expected bits, created as the call's only array.
inline void expect_result(const CallOutcome &outcome, size_t rows, size_t cols,
                          const std::vector<double> &expected) {
  ASSERT_TRUE(outcome.ok) << outcome.message;
  ASSERT_NE(outcome.result, nullptr);
  EXPECT_EQ(outcome.arrays_created, 1);
  EXPECT_EQ(standin_array_class(outcome.result.get()),
            StandinClass::double_class);
  EXPECT_FALSE(standin_is_complex(outcome.result.get()));
  ASSERT_EQ(standin_dims(outcome.result.get()),
            (std::vector<size_t>{rows, cols}));
  const std::vector<double> actual =
      standin_double_values(outcome.result.get());
  const long diff = first_bit_difference(expected, actual);
  EXPECT_EQ(diff, -1) << "element " << diff << ": expected "
                      << (diff >= 0 &&
                                  static_cast<size_t>(diff) < expected.size()
                              ? expected[static_cast<size_t>(diff)]
                              : 0.0);
}

// A refused call: the exact message, nothing created, plhs[0] untouched.
inline void expect_refusal(const CallOutcome &outcome,
                           const std::string &message) {
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.message, message);
  EXPECT_EQ(outcome.arrays_created, 0);
  EXPECT_TRUE(outcome.result_slot_untouched);
}

#endif  // TESTS_GATEWAYS_GATEWAY_TEST_SUPPORT_H
