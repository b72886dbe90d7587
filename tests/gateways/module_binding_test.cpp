// How the modules meet the host: what they export, where their mx/mex
// imports bind, what the loader reports for files that are no module, and
// calls from several threads at once.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway_test_support.h"

namespace {

// Defined symbols of the dynamic symbol table, as listed by nm.
std::set<std::string> exported_symbols(const std::string &path) {
  const std::string command =
      std::string("'") + NM_TOOL + "' -D --defined-only '" + path + "'";
  std::set<std::string> names;
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return names;
  }
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char address[64], type[8], name[4000];
    if (std::sscanf(line, "%63s %7s %3999s", address, type, name) == 3) {
      names.insert(name);
    }
  }
  EXPECT_EQ(pclose(pipe), 0) << command;
  return names;
}

TEST(ModuleBinding, EachModuleExportsOnlyMexFunction) {
  for (const ModuleFile &module : kModules) {
    SCOPED_TRACE(module.name);
    EXPECT_EQ(exported_symbols(module.path),
              std::set<std::string>{"mexFunction"});
  }
}

TEST(ModuleBinding, HostImportsBindToTheStandinLibrary) {
  struct HostSymbol {
    const char *name;
    void *address;
  };
  const HostSymbol symbols[] = {
      {"mxGetM", reinterpret_cast<void *>(&mxGetM)},
      {"mxGetN", reinterpret_cast<void *>(&mxGetN)},
      {"mxGetNumberOfElements",
       reinterpret_cast<void *>(&mxGetNumberOfElements)},
      {"mxGetPr", reinterpret_cast<void *>(&mxGetPr)},
      {"mxIsDouble", reinterpret_cast<void *>(&mxIsDouble)},
      {"mxIsSparse", reinterpret_cast<void *>(&mxIsSparse)},
      {"mxIsComplex", reinterpret_cast<void *>(&mxIsComplex)},
      {"mxCreateDoubleMatrix_700",
       reinterpret_cast<void *>(&mxCreateDoubleMatrix_700)},
      {"mexErrMsgTxt", reinterpret_cast<void *>(&mexErrMsgTxt)},
  };
  for (std::size_t i = 0; i < kModuleCount; ++i) {
    SCOPED_TRACE(kModules[i].name);
    const StandinModule &module = standin_module(i);
    for (const HostSymbol &symbol : symbols) {
      SCOPED_TRACE(symbol.name);
      // Looked up in the module's own scope: the module and what it needs.
      EXPECT_EQ(dlsym(module.handle, symbol.name), symbol.address);
    }
  }
}

TEST(ModuleBinding, FilesThatAreNoModuleAreReported) {
  const std::string paths[] = {
      std::string(kModules[0].path) + ".missing",
      STANDIN_LIBRARY_PATH,  // a shared library without mexFunction
  };
  for (const std::string &path : paths) {
    SCOPED_TRACE(path);
    StandinModule module{nullptr, nullptr};
    std::string error;
    EXPECT_FALSE(standin_load_module(path, &module, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(module.handle, nullptr);
    EXPECT_EQ(module.entry, nullptr);
  }
}

// A module that misuses the host must crash, not go on with garbage: this is
// how a gateway fault surfaces in the tests and under the fuzzers. The build
// picks the death test style (fork only under an emulator, see CMakeLists).
TEST(StandinHostDeathTest, MisuseAbortsWithAMessage) {
  GTEST_FLAG_SET(death_test_style, DEATH_TEST_STYLE);
  EXPECT_DEATH(mxCreateDoubleMatrix_700(-1, 2, mxREAL), "negative size");
  EXPECT_DEATH(mxGetM(nullptr), "null array handle");
  EXPECT_DEATH(mexErrMsgTxt("no call"), "outside a module call");
}

// One call and what it gave when made alone.
struct RecordedCall {
  const StandinModule *module;
  std::vector<StandinArray> args;
  bool ok;
  std::string message;
  std::vector<size_t> dims;
  std::vector<double> values;
};

void record(RecordedCall *call) {
  std::vector<const mxArray *> args;
  for (const StandinArray &arg : call->args) {
    args.push_back(arg.get());
  }
  const CallOutcome outcome = call_module(*call->module, args);
  call->ok = outcome.ok;
  call->message = outcome.message;
  if (outcome.ok) {
    call->dims = standin_dims(outcome.result.get());
    call->values = standin_double_values(outcome.result.get());
  }
}

bool same_outcome(const RecordedCall &call) {
  std::vector<const mxArray *> args;
  for (const StandinArray &arg : call.args) {
    args.push_back(arg.get());
  }
  const CallOutcome outcome = call_module(*call.module, args);
  if (outcome.ok != call.ok || outcome.message != call.message) {
    return false;
  }
  if (!outcome.ok) {
    return outcome.arrays_created == 0 && outcome.result_slot_untouched;
  }
  return outcome.arrays_created == 1 &&
         standin_dims(outcome.result.get()) == call.dims &&
         first_bit_difference(
             call.values, standin_double_values(outcome.result.get())) == -1;
}

std::vector<RecordedCall> mixed_calls() {
  std::mt19937_64 rng(4);
  std::vector<RecordedCall> calls;
  const StandinModule *tentfill2 = &tentfill2_module();
  const StandinModule *trainfold = &trainfold_mex_module();
  const StandinModule *up_adjoint = &tentfill2_adjoint_module();
  const StandinModule *sum_adjoint = &trainfold_adjoint_module();
  for (int i = 0; i < 6; ++i) {
    const size_t m = 5 + static_cast<size_t>(i) * 7;
    const size_t n = 1 + static_cast<size_t>(i % 3);
    std::vector<StandinArray> args;
    args.push_back(doubles({m, n}, random_values(rng, m * n)));
    args.push_back(scalar(2.0 + i));
    calls.push_back({tentfill2, std::move(args), false, "", {}, {}});

    std::vector<double> spikes = random_values(rng, 10 + 5 * i);
    for (double &t : spikes) {
      t = std::abs(t) / 2;
    }
    std::sort(spikes.begin(), spikes.end());
    std::vector<StandinArray> spike_args;
    spike_args.push_back(column(spikes));
    spike_args.push_back(doubles({4, n}, random_values(rng, 4 * n)));
    spike_args.push_back(row({1.0 * i, 40.0 + i}));
    calls.push_back({trainfold, std::move(spike_args), false, "", {}, {}});

    std::vector<StandinArray> up_adjoint_args;
    up_adjoint_args.push_back(
        doubles({3 * m, n}, random_values(rng, 3 * m * n)));
    up_adjoint_args.push_back(scalar(3.5));
    calls.push_back(
        {up_adjoint, std::move(up_adjoint_args), false, "", {}, {}});

    std::vector<StandinArray> sum_adjoint_args;
    sum_adjoint_args.push_back(column(spikes));
    sum_adjoint_args.push_back(doubles({41, n}, random_values(rng, 41 * n)));
    sum_adjoint_args.push_back(row({1.0 * i, 40.0 + i}));
    sum_adjoint_args.push_back(scalar(4));
    calls.push_back(
        {sum_adjoint, std::move(sum_adjoint_args), false, "", {}, {}});
  }
  std::vector<StandinArray> too_few;
  too_few.push_back(scalar(1));
  calls.push_back({tentfill2, std::move(too_few), false, "", {}, {}});
  std::vector<StandinArray> bad_nbns;
  bad_nbns.push_back(column({1, 2}));
  bad_nbns.push_back(scalar(std::nan("")));
  calls.push_back({tentfill2, std::move(bad_nbns), false, "", {}, {}});
  std::vector<StandinArray> row_spikes;
  row_spikes.push_back(row({1, 2, 3}));
  row_spikes.push_back(column({1, 2}));
  row_spikes.push_back(row({0, 5}));
  calls.push_back({trainfold, std::move(row_spikes), false, "", {}, {}});
  std::vector<StandinArray> bad_twin;
  bad_twin.push_back(column({1, 2}));
  bad_twin.push_back(column({1, 2}));
  bad_twin.push_back(row({5, 3}));
  calls.push_back({trainfold, std::move(bad_twin), false, "", {}, {}});
  std::vector<StandinArray> bad_rows;
  bad_rows.push_back(column({1, 2, 3}));
  bad_rows.push_back(scalar(2));
  calls.push_back({up_adjoint, std::move(bad_rows), false, "", {}, {}});
  std::vector<StandinArray> bad_taps;
  bad_taps.push_back(column({1, 2}));
  bad_taps.push_back(column({1, 2, 3}));
  bad_taps.push_back(row({0, 2}));
  bad_taps.push_back(scalar(1.5));
  calls.push_back({sum_adjoint, std::move(bad_taps), false, "", {}, {}});

  for (RecordedCall &call : calls) {
    record(&call);
  }
  return calls;
}

TEST(ModuleBinding, CallsFromSeveralThreadsAtOnceGiveTheSameOutcomes) {
  const std::vector<RecordedCall> calls = mixed_calls();
  size_t failures = 0;
  for (const RecordedCall &call : calls) {
    failures += call.ok ? 0 : 1;
  }
  ASSERT_EQ(failures, 6u);  // the error calls are among them

  constexpr int kThreads = 4;
  constexpr int kRounds = 60;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&calls, &mismatches, t] {
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < calls.size(); ++i) {
          // Each thread walks the calls from another starting point, so
          // successes and errors overlap across threads.
          const RecordedCall &call =
              calls[(i + static_cast<size_t>(t * 5 + round)) % calls.size()];
          if (!same_outcome(call)) {
            ++mismatches[static_cast<size_t>(t)];
          }
        }
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(mismatches[static_cast<size_t>(t)], 0) << "thread " << t;
  }
}

}  // namespace
