// Kernel benchmarks: upsample_bins and spike_filter_sum on the fixed
// workloads, each timed against a baseline measured in the same iterations.
//
// Every iteration runs the baselines and then the contender, one after the
// other on the same buffers, so that machine noise hits both alike. The
// benchmark's time is the contender's; the counters give
//   ratio     contender time / the faster baseline's time (the figure to read)
//   base_us   the faster baseline's time per call, in microseconds
// Upsampling baselines: memset and a plain store loop over the same output
// bytes. Spike-sum baseline: a contiguous add loop, y[i] = h[i] + y[i], in
// cache, making as many additions as the call makes tap additions.
//
// Adjoints: the upsampling adjoint against a reduction loop reading r once
// and storing g once (reduce_loop); the spike-sum adjoint against the same
// in-cache add loop, with as many additions as it makes. Both also against
// what a user with the design matrix X built would do instead: X' * r, one
// dot product per column of X (X built once, untimed).
//
// Population sums: the forward and its adjoint with N sources against the
// same in-cache add loop, with as many additions as they make (K per tap
// landing in the window).
//
// The scaling family times each kernel at 1x, 10x and 100x a base size; the
// counter units is the work of one call (output values written, or tap
// additions made), so time / units should stay flat.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "benchmarks/baselines.h"
#include "benchmarks/workloads.h"
#include "spike_filter/spike_filter_pop.h"
#include "spike_filter/spike_filter_pop_adjoint.h"
#include "spike_filter/spike_filter_sum.h"
#include "spike_filter/spike_filter_sum_adjoint.h"
#include "upsampler/upsample_bins.h"
#include "upsampler/upsample_bins_adjoint.h"

using namespace spike_bins;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_of(const std::function<void()> &work) {
  const Clock::time_point start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs the benchmark loop: per iteration, prepare (untimed), each baseline,
// prepare again, then the contender. Sets the manual iteration time to the
// contender's time and the ratio counters from the totals.
void time_against_baselines(
    benchmark::State &state, const std::function<void()> &prepare,
    const std::function<void()> &contender,
    const std::vector<std::pair<std::string, std::function<void()>>>
        &baselines) {
  double contender_total = 0.0;
  std::vector<double> baseline_totals(baselines.size(), 0.0);
  for (auto _ : state) {
    for (size_t i = 0; i < baselines.size(); ++i) {
      baseline_totals[i] += seconds_of(baselines[i].second);
    }
    prepare();
    const double seconds = seconds_of(contender);
    contender_total += seconds;
    state.SetIterationTime(seconds);
  }
  const double best =
      *std::min_element(baseline_totals.begin(), baseline_totals.end());
  const double iterations = static_cast<double>(state.iterations());
  state.counters["ratio"] = contender_total / best;
  state.counters["base_us"] = best / iterations * 1e6;
  for (size_t i = 0; i < baselines.size(); ++i) {
    state.counters["vs_" + baselines[i].first] =
        contender_total / baseline_totals[i];
  }
}

// ---------------------------------------------------------------- upsampling

const UpsampleWorkload kUpsampleWorkloads[] = {
    {"U1", 100000, 1, 20.0},
    {"U2", 20000, 16, 50.0},
    {"U3", 1000, 1, 10.0},
    // The same output bytes through the other arithmetic form.
    {"U1-2col", 50000, 2, 20.0},
    {"U2-1col", 320000, 1, 50.0},
    {"U3-2col", 500, 2, 10.0},
};

enum class UpsampleContender { kernel, plain_loop };

void bm_upsample(benchmark::State &state, UpsampleWorkload w,
                 UpsampleContender which) {
  const UpsampleData d = make_upsample_data(w);
  const int64_t count = static_cast<int64_t>(d.output_rows) * w.cols;
  std::vector<double> out(static_cast<size_t>(count), 0.0);
  const DoubleMatrix x{w.rows, w.cols, const_cast<double *>(d.x.data())};
  const DoubleMatrix y{d.output_rows, w.cols, out.data()};
  std::function<void()> contender;
  if (which == UpsampleContender::kernel) {
    contender = [&] { upsample_bins(x, w.nbns, y); };
  } else {
    contender = [&] { naive_upsample(x.data, w.rows, w.cols, w.nbns, y.data); };
  }
  time_against_baselines(
      state, [] {},
      [&] {
        contender();
        benchmark::ClobberMemory();
      },
      {{"memset",
        [&] {
          std::memset(out.data(), 0, static_cast<size_t>(count) * 8);
          benchmark::ClobberMemory();
        }},
       {"store", [&] {
          store_loop(out.data(), count, 1.5);
          benchmark::ClobberMemory();
        }}});
  state.counters["out_MB"] = static_cast<double>(count) * 8 / 1e6;
}

// ---------------------------------------------------------------- spike sum

const SpikeWorkload kSpikeWorkloads[] = {
    {"S1", 2000, 1000000, 500, 1, 0.0, 999999.0},
    {"S2", 50000, 1000000, 200, 10, 0.0, 999999.0},
    {"S3", 100, 1000, 50, 2, 0.0, 999.0},
};

// In-cache buffers of the add-loop baseline (2 x 16 KiB, within L1).
constexpr int64_t kAddChunk = 2048;

void add_loop_repeated(double *y, const double *h, int64_t additions) {
  for (; additions >= kAddChunk; additions -= kAddChunk) {
    add_loop(y, h, kAddChunk);
  }
  add_loop(y, h, additions);
}

enum class SpikeContender { kernel, plain_loop };

void bm_spike(benchmark::State &state, SpikeWorkload w, SpikeContender which) {
  const SpikeData d = make_spike_data(w);
  const int64_t count = static_cast<int64_t>(d.window_rows) * w.filters;
  std::vector<double> out(static_cast<size_t>(count), 0.0);
  const DoubleMatrix h{w.taps, w.filters,
                       const_cast<double *>(d.h_currents.data())};
  const DoubleMatrix y{d.window_rows, w.filters, out.data()};
  const int64_t additions = spike_tap_additions(w, d);
  std::vector<double> add_y(kAddChunk, 0.0);
  const std::vector<double> add_h = random_values(kAddChunk, 4);
  std::function<void()> contender;
  if (which == SpikeContender::kernel) {
    contender = [&] {
      spike_filter_sum(d.spinds.data(), w.spikes, h, d.twin, y);
    };
  } else {
    contender = [&] {
      naive_spike_sum(d.spinds.data(), w.spikes, h.data, w.taps, w.filters,
                      d.twin, y.data);
    };
  }
  time_against_baselines(
      state,
      [&] { std::memset(out.data(), 0, static_cast<size_t>(count) * 8); },
      [&] {
        contender();
        benchmark::ClobberMemory();
      },
      {{"add", [&] {
          add_loop_repeated(add_y.data(), add_h.data(), additions);
          benchmark::ClobberMemory();
        }}});
  state.counters["additions"] = static_cast<double>(additions);
}

// ---------------------------------------------------------------- adjoints

// The upsampling adjoint on r of the forward's output shape (rows * E x cols).
const UpsampleWorkload kUpsampleAdjointWorkloads[] = {
    {"UA1", 100000, 1, 20.0},
    {"UA2", 20000, 16, 50.0},
    {"UA3", 1000, 1, 10.0},
};

void bm_upsample_adjoint(benchmark::State &state, UpsampleWorkload w) {
  const int32_t bins = static_cast<int32_t>(w.nbns);
  const int32_t f = w.rows * bins;
  const std::vector<double> r_data =
      random_values(static_cast<int64_t>(f) * w.cols, 5);
  std::vector<double> out(static_cast<size_t>(w.rows) * w.cols, 0.0);
  const DoubleMatrix r{f, w.cols, const_cast<double *>(r_data.data())};
  const DoubleMatrix g{w.rows, w.cols, out.data()};
  time_against_baselines(
      state, [] {},
      [&] {
        upsample_bins_adjoint(r, w.nbns, g);
        benchmark::ClobberMemory();
      },
      {{"reduce", [&] {
          reduce_loop(r.data, bins, static_cast<int64_t>(w.rows) * w.cols,
                      out.data());
          benchmark::ClobberMemory();
        }}});
  state.counters["in_MB"] = static_cast<double>(r_data.size()) * 8 / 1e6;
}

const SpikeWorkload kSpikeAdjointWorkloads[] = {
    {"SA1", 2000, 1000000, 500, 1, 0.0, 999999.0},
    {"SA2", 50000, 1000000, 200, 10, 0.0, 999999.0},
    {"SA3", 100, 1000, 50, 2, 0.0, 999.0},
};

// filters is the column count of r and g.
void bm_spike_adjoint(benchmark::State &state, SpikeWorkload w) {
  const SpikeData d = make_spike_data(w);
  const std::vector<double> r_data =
      random_values(static_cast<int64_t>(d.window_rows) * w.filters, 6);
  std::vector<double> out(static_cast<size_t>(w.taps) * w.filters, 0.0);
  const DoubleMatrix r{d.window_rows, w.filters,
                       const_cast<double *>(r_data.data())};
  const DoubleMatrix g{w.taps, w.filters, out.data()};
  const int64_t additions = spike_tap_additions(w, d);
  std::vector<double> add_y(kAddChunk, 0.0);
  const std::vector<double> add_h = random_values(kAddChunk, 4);
  time_against_baselines(
      state, [&] { std::fill(out.begin(), out.end(), 0.0); },
      [&] {
        spike_filter_sum_adjoint(d.spinds.data(), w.spikes, r, d.twin, w.taps,
                                 g);
        benchmark::ClobberMemory();
      },
      {{"add", [&] {
          add_loop_repeated(add_y.data(), add_h.data(), additions);
          benchmark::ClobberMemory();
        }}});
  state.counters["additions"] = static_cast<double>(additions);
}

// The design matrix of a forward operator, column by column: column q is the
// forward applied to the q-th unit vector.
template <typename Forward>
std::vector<double> design_of(int64_t rows, int32_t cols, Forward forward) {
  std::vector<double> x(static_cast<size_t>(rows) * cols, 0.0);
  std::vector<double> unit(static_cast<size_t>(cols), 0.0);
  for (int32_t q = 0; q < cols; ++q) {
    unit[q] = 1.0;
    forward(unit.data(), x.data() + static_cast<int64_t>(q) * rows);
    unit[q] = 0.0;
  }
  return x;
}

// Each adjoint against X' * r with X built: one column of r. A fixed count
// of iterations: the time counted is the adjoint's, a hundred times shorter
// than the baseline's, which would otherwise run for minutes. UD: the
// upsampler with 2000 samples at nbns 20 (X 40000 x 2000, 640 MB); SD: 4000
// spikes over 200000 bins with 100 taps (X 200000 x 100, 160 MB).
void bm_upsample_adjoint_design(benchmark::State &state) {
  const int32_t m = 2000;
  const double nbns = 20.0;
  const int32_t f = m * 20;
  const std::vector<double> x = design_of(f, m, [&](double *e, double *col) {
    upsample_bins({m, 1, e}, nbns, {f, 1, col});
  });
  const std::vector<double> r_data = random_values(f, 7);
  std::vector<double> out(static_cast<size_t>(m), 0.0);
  time_against_baselines(
      state, [] {},
      [&] {
        upsample_bins_adjoint({f, 1, const_cast<double *>(r_data.data())}, nbns,
                              {m, 1, out.data()});
        benchmark::ClobberMemory();
      },
      {{"design", [&] {
          design_transpose_product(x.data(), f, m, r_data.data(), out.data());
          benchmark::ClobberMemory();
        }}});
  state.counters["X_MB"] = static_cast<double>(x.size()) * 8 / 1e6;
}

void bm_spike_adjoint_design(benchmark::State &state) {
  const SpikeWorkload w{"SD", 4000, 200000, 100, 1, 0.0, 199999.0};
  const SpikeData d = make_spike_data(w);
  const int32_t rows = d.window_rows;
  const std::vector<double> x =
      design_of(rows, w.taps, [&](double *e, double *col) {
        spike_filter_sum(d.spinds.data(), w.spikes, {w.taps, 1, e}, d.twin,
                         {rows, 1, col});
      });
  const std::vector<double> r_data = random_values(rows, 8);
  std::vector<double> out(static_cast<size_t>(w.taps), 0.0);
  time_against_baselines(
      state, [&] { std::fill(out.begin(), out.end(), 0.0); },
      [&] {
        spike_filter_sum_adjoint(d.spinds.data(), w.spikes,
                                 {rows, 1, const_cast<double *>(r_data.data())},
                                 d.twin, w.taps, {w.taps, 1, out.data()});
        benchmark::ClobberMemory();
      },
      {{"design", [&] {
          design_transpose_product(x.data(), rows, w.taps, r_data.data(),
                                   out.data());
          benchmark::ClobberMemory();
        }}});
  state.counters["X_MB"] = static_cast<double>(x.size()) * 8 / 1e6;
}

// ---------------------------------------------------------------- population

// The spike data of w (filters = K output columns) with N sources: ids
// cycling through the sources in a fixed random order, the filters
// taps x N*K.
struct PopWorkload {
  SpikeWorkload spikes;
  int32_t sources;
};

const PopWorkload kPopWorkloads[] = {
    {{"P1", 50000, 1000000, 200, 1, 0.0, 999999.0}, 10},
    {{"P2", 50000, 1000000, 100, 4, 0.0, 999999.0}, 10},
    {{"P3", 100, 1000, 50, 2, 0.0, 999.0}, 4},
    // P1 with one source: the single-train sum's work, for comparison.
    {{"P1-one", 50000, 1000000, 200, 1, 0.0, 999999.0}, 1},
};

std::vector<double> pop_ids(int32_t spikes, int32_t sources) {
  const std::vector<double> u = random_values(spikes, 9);
  std::vector<double> ids(static_cast<size_t>(spikes));
  for (int32_t j = 0; j < spikes; ++j) {
    ids[j] = static_cast<double>(std::min(
        sources - 1, static_cast<int32_t>((u[j] + 1.0) / 2.0 * sources)));
  }
  return ids;
}

void bm_pop(benchmark::State &state, PopWorkload p) {
  const SpikeWorkload &w = p.spikes;
  const SpikeData d = make_spike_data(w);
  const std::vector<double> ids = pop_ids(w.spikes, p.sources);
  const int32_t filters = p.sources * w.filters;
  const std::vector<double> h_data =
      random_values(static_cast<int64_t>(w.taps) * filters, 10);
  const int64_t count = static_cast<int64_t>(d.window_rows) * w.filters;
  std::vector<double> out(static_cast<size_t>(count), 0.0);
  const DoubleMatrix h{w.taps, filters, const_cast<double *>(h_data.data())};
  const DoubleMatrix y{d.window_rows, w.filters, out.data()};
  const int64_t additions = spike_tap_additions(w, d);
  std::vector<double> add_y(kAddChunk, 0.0);
  const std::vector<double> add_h = random_values(kAddChunk, 4);
  time_against_baselines(
      state,
      [&] { std::memset(out.data(), 0, static_cast<size_t>(count) * 8); },
      [&] {
        spike_filter_pop(d.spinds.data(), ids.data(), w.spikes, h, d.twin,
                         p.sources, 0, y);
        benchmark::ClobberMemory();
      },
      {{"add", [&] {
          add_loop_repeated(add_y.data(), add_h.data(), additions);
          benchmark::ClobberMemory();
        }}});
  state.counters["additions"] = static_cast<double>(additions);
}

void bm_pop_adjoint(benchmark::State &state, PopWorkload p) {
  const SpikeWorkload &w = p.spikes;
  const SpikeData d = make_spike_data(w);
  const std::vector<double> ids = pop_ids(w.spikes, p.sources);
  const int32_t filters = p.sources * w.filters;
  const std::vector<double> r_data =
      random_values(static_cast<int64_t>(d.window_rows) * w.filters, 6);
  std::vector<double> out(static_cast<size_t>(w.taps) * filters, 0.0);
  const DoubleMatrix r{d.window_rows, w.filters,
                       const_cast<double *>(r_data.data())};
  const DoubleMatrix g{w.taps, filters, out.data()};
  const int64_t additions = spike_tap_additions(w, d);
  std::vector<double> add_y(kAddChunk, 0.0);
  const std::vector<double> add_h = random_values(kAddChunk, 4);
  time_against_baselines(
      state, [&] { std::fill(out.begin(), out.end(), 0.0); },
      [&] {
        spike_filter_pop_adjoint(d.spinds.data(), ids.data(), w.spikes, r,
                                 d.twin, w.taps, p.sources, 0, g);
        benchmark::ClobberMemory();
      },
      {{"add", [&] {
          add_loop_repeated(add_y.data(), add_h.data(), additions);
          benchmark::ClobberMemory();
        }}});
  state.counters["additions"] = static_cast<double>(additions);
}

// ---------------------------------------------------------------- scaling

// Scaling. Each series grows the work 1x, 10x, 100x; "in_cache" series keep
// the memory they touch within L2, so that the time per unit shows the
// kernel's own cost, and the other series let the output grow past the
// caches.

// Upsampling, one column at nbns 20: `samples` x factor coarse samples.
void bm_scale_upsample(benchmark::State &state, int32_t samples) {
  const int32_t factor = static_cast<int32_t>(state.range(0));
  const UpsampleWorkload w{"scale", samples * factor, 1, 20.0};
  const UpsampleData d = make_upsample_data(w);
  std::vector<double> out(static_cast<size_t>(d.output_rows), 0.0);
  const DoubleMatrix x{w.rows, 1, const_cast<double *>(d.x.data())};
  const DoubleMatrix y{d.output_rows, 1, out.data()};
  for (auto _ : state) {
    upsample_bins(x, w.nbns, y);
    benchmark::ClobberMemory();
  }
  state.counters["units"] = d.output_rows;
}

// Spike sum, 100 taps x 1 filter, 1000 x factor spikes; the window is
// `window_bins` bins, times factor when grow_window (same spike density).
void bm_scale_spike(benchmark::State &state, int32_t window_bins,
                    bool grow_window) {
  const int32_t factor = static_cast<int32_t>(state.range(0));
  const int32_t bins = grow_window ? window_bins * factor : window_bins;
  const SpikeWorkload w{
      "scale", 1000 * factor, bins, 100, 1, 0.0, static_cast<double>(bins) - 1};
  const SpikeData d = make_spike_data(w);
  const int64_t count = static_cast<int64_t>(d.window_rows) * w.filters;
  std::vector<double> out(static_cast<size_t>(count), 0.0);
  const DoubleMatrix h{w.taps, w.filters,
                       const_cast<double *>(d.h_currents.data())};
  const DoubleMatrix y{d.window_rows, w.filters, out.data()};
  const int64_t additions = spike_tap_additions(w, d);
  for (auto _ : state) {
    std::memset(out.data(), 0, static_cast<size_t>(count) * 8);
    state.SetIterationTime(seconds_of([&] {
      spike_filter_sum(d.spinds.data(), w.spikes, h, d.twin, y);
      benchmark::ClobberMemory();
    }));
  }
  state.counters["units"] = static_cast<double>(additions);
}

void register_benchmarks() {
  for (const UpsampleWorkload &w : kUpsampleWorkloads) {
    for (UpsampleContender which :
         {UpsampleContender::kernel, UpsampleContender::plain_loop}) {
      const std::string name =
          std::string("upsample/") + w.name +
          (which == UpsampleContender::kernel ? "/kernel" : "/plain_loop");
      benchmark::RegisterBenchmark(name.c_str(), bm_upsample, w, which)
          ->UseManualTime()
          ->Unit(benchmark::kMicrosecond);
    }
  }
  for (const SpikeWorkload &w : kSpikeWorkloads) {
    for (SpikeContender which :
         {SpikeContender::kernel, SpikeContender::plain_loop}) {
      const std::string name =
          std::string("spike_sum/") + w.name +
          (which == SpikeContender::kernel ? "/kernel" : "/plain_loop");
      benchmark::RegisterBenchmark(name.c_str(), bm_spike, w, which)
          ->UseManualTime()
          ->Unit(benchmark::kMicrosecond);
    }
  }
  for (const UpsampleWorkload &w : kUpsampleAdjointWorkloads) {
    const std::string name = std::string("upsample_adjoint/") + w.name;
    benchmark::RegisterBenchmark(name.c_str(), bm_upsample_adjoint, w)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
  }
  for (const SpikeWorkload &w : kSpikeAdjointWorkloads) {
    const std::string name = std::string("spike_adjoint/") + w.name;
    benchmark::RegisterBenchmark(name.c_str(), bm_spike_adjoint, w)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
  }
  for (const PopWorkload &p : kPopWorkloads) {
    benchmark::RegisterBenchmark(
        (std::string("spike_pop/") + p.spikes.name + "/kernel").c_str(), bm_pop,
        p)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(
        (std::string("spike_pop_adjoint/A") + p.spikes.name + "/kernel")
            .c_str(),
        bm_pop_adjoint, p)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("upsample_adjoint/UD/vs_design",
                               bm_upsample_adjoint_design)
      ->UseManualTime()
      ->Iterations(20)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("spike_adjoint/SD/vs_design",
                               bm_spike_adjoint_design)
      ->UseManualTime()
      ->Iterations(20)
      ->Unit(benchmark::kMicrosecond);
  // 1x: 1000 output values (8 KiB) in cache, 200000 (1.6 MB) beyond.
  benchmark::RegisterBenchmark("scaling/upsample_in_cache", bm_scale_upsample,
                               50)
      ->Arg(1)
      ->Arg(10)
      ->Arg(100)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("scaling/upsample", bm_scale_upsample, 10000)
      ->Arg(1)
      ->Arg(10)
      ->Arg(100)
      ->Unit(benchmark::kMicrosecond);
  // 1x: 1000 spikes, 100000 additions; a fixed window of 50000 bins (400 KiB)
  // or a window of 100000 bins per 1000 spikes.
  benchmark::RegisterBenchmark("scaling/spike_sum_in_cache", bm_scale_spike,
                               50000, false)
      ->UseManualTime()
      ->Arg(1)
      ->Arg(10)
      ->Arg(100)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("scaling/spike_sum", bm_scale_spike, 100000,
                               true)
      ->UseManualTime()
      ->Arg(1)
      ->Arg(10)
      ->Arg(100)
      ->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char **argv) {
  register_benchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
