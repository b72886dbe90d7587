// Whether the population fit would gain from computing many targets in one
// pass over the spikes. One run times, on the worked fit's shape (N sources
// at 7.5 Hz over T 1 ms bins, 100 taps, every source a filter per target):
//   per target   spike_filter_pop once per target (what the fit does)
//   K columns    spike_filter_pop with K targets' filters at once (bins x K)
//   targets-major  a plain loop over a targets x bins result: each spike adds
//                one contiguous block of K * taps values (filters stored
//                targets x taps x sources), the layout a multi-target
//                operator would use
//   add loop     y[i] = h[i] + y[i] over 2 x 16 KiB, as many additions
// and prints G additions/s and the ratio to the add loop, median of the
// repetitions. All variants make the same additions in the same order per
// element (their results are compared). Not a test.
//
//   target_layout [sources] [seconds] [repetitions]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "common/avx2_dispatch.h"
#include "spike_filter/spike_filter_pop.h"
#include "spike_filter/spike_scan.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The targets-major pass: y is k x (bins + taps), h is k x taps x sources;
// compiled as the kernels are (their add_span, their AVX2 copy).
KERNEL_INLINE void targets_major_body(const int32_t *bins, const int32_t *ids,
                                      int64_t count, const double *h,
                                      int32_t k, int32_t taps, double *y) {
  const int64_t block = int64_t{k} * taps;
  for (int64_t q = 0; q < count; ++q) {
    spike_bins::add_span(h + ids[q] * block, y + int64_t{bins[q]} * k, block);
  }
}

void targets_major(const std::vector<int32_t> &bins,
                   const std::vector<int32_t> &ids, const double *h, int32_t k,
                   int32_t taps, double *y) {
  spike_bins::call_fastest<targets_major_body>(
      bins.data(), ids.data(), static_cast<int64_t>(bins.size()), h, k, taps,
      y);
}

KERNEL_INLINE void add_loop_body(const double *from, double *to,
                                 int64_t rounds) {
  for (int64_t r = 0; r < rounds; ++r) spike_bins::add_span(from, to, 2048);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  const int32_t sources = argc > 1 ? std::atoi(argv[1]) : 80;
  const int32_t nbins = (argc > 2 ? std::atoi(argv[2]) : 300) * 1000;
  const int reps = argc > 3 ? std::atoi(argv[3]) : 5;
  const int32_t taps = 100, targets = sources;
  std::mt19937_64 rng(0);
  std::vector<std::pair<int32_t, int32_t>> spikes;
  std::poisson_distribution<int> count(7.5 * nbins / 1000.0);
  std::uniform_int_distribution<int32_t> bin(0, nbins - taps - 1);
  for (int32_t n = 0; n < sources; ++n) {
    for (int c = count(rng); c > 0; --c) spikes.push_back({bin(rng), n});
  }
  std::sort(spikes.begin(), spikes.end());
  std::vector<double> spinds, dids;
  std::vector<int32_t> bins, ids;
  for (auto [b, n] : spikes) {
    spinds.push_back(b + 0.5);
    dids.push_back(n);
    bins.push_back(b);
    ids.push_back(n);
  }
  const int32_t b = static_cast<int32_t>(spinds.size());
  std::uniform_real_distribution<double> tap(-1.0, 1.0);
  // filters[(t * sources + n) * taps + k]: tap k of source n onto target t.
  std::vector<double> filters(size_t(targets) * sources * taps);
  for (double &x : filters) x = tap(rng);
  const double twin[2] = {0.0, double(nbins - 1)};
  const double additions = double(b) * taps * targets;
  std::printf("%d sources and targets, %d bins, %d spikes, %d taps: %.3g "
              "additions per pass over all targets\n",
              sources, nbins, b, taps, additions);

  std::vector<double> reference(size_t(nbins) * targets);
  std::vector<double> y;
  auto per_target = [&] {
    for (int32_t t = 0; t < targets; ++t) {
      spike_bins::spike_filter_pop(
          spinds.data(), dids.data(), b,
          {taps, sources, filters.data() + size_t(t) * sources * taps}, twin,
          sources, 0, {nbins, 1, y.data() + size_t(t) * nbins});
    }
  };
  // As the fit evaluates: each target into the same warm buffer of bins.
  std::vector<double> one(nbins, 0.0);
  auto one_buffer = [&] {
    for (int32_t t = 0; t < targets; ++t) {
      spike_bins::spike_filter_pop(
          spinds.data(), dids.data(), b,
          {taps, sources, filters.data() + size_t(t) * sources * taps}, twin,
          sources, 0, {nbins, 1, one.data()});
    }
  };
  auto columns = [&](int32_t k) {
    for (int32_t t = 0; t < targets; t += k) {
      spike_bins::spike_filter_pop(
          spinds.data(), dids.data(), b,
          {taps, sources * k, filters.data() + size_t(t) * sources * taps},
          twin, sources, 0, {nbins, k, y.data() + size_t(t) * nbins});
    }
  };
  std::vector<double> major_h, major_y;
  auto major = [&](int32_t k) {
    major_h.assign(size_t(k) * taps * sources, 0.0);
    y.assign(size_t(nbins) * targets, 0.0);
    for (int32_t t0 = 0; t0 < targets; t0 += k) {
      for (int32_t t = 0; t < k; ++t)
        for (int32_t n = 0; n < sources; ++n)
          for (int32_t j = 0; j < taps; ++j)
            major_h[(size_t(n) * taps + j) * k + t] =
                filters[(size_t(t0 + t) * sources + n) * taps + j];
      major_y.assign(size_t(k) * (nbins + taps), 0.0);
      targets_major(bins, ids, major_h.data(), k, taps, major_y.data());
      for (int32_t t = 0; t < k; ++t)
        for (int32_t i = 0; i < nbins; ++i)
          y[size_t(t0 + t) * nbins + i] = major_y[size_t(i) * k + t];
    }
  };
  std::vector<double> from(2048, 1.0), to(2048, 0.0);
  auto add_loop = [&] {
    spike_bins::call_fastest<add_loop_body>(
        static_cast<const double *>(from.data()), to.data(),
        static_cast<int64_t>(additions / 2048.0));
  };

  struct Row {
    const char *name;
    int32_t k;
    std::vector<double> times;
  };
  std::vector<Row> rows = {{"per target", 1, {}},    {"one buffer", 1, {}},
                           {"K columns", 2, {}},
                           {"K columns", 8, {}},     {"targets-major", 1, {}},
                           {"targets-major", 8, {}}, {"targets-major", 16, {}},
                           {"add loop", 0, {}}};
  y.assign(size_t(nbins) * targets, 0.0);
  per_target();
  reference = y;
  for (int r = 0; r < reps; ++r) {
    for (Row &row : rows) {
      if (targets % std::max(row.k, 1) != 0) continue;
      // The targets-major timing excludes the layout changes around it.
      double seconds = 0.0;
      if (std::strcmp(row.name, "targets-major") == 0) {
        major(row.k);  // warm and check
        if (y != reference) std::printf("%s %d: RESULT DIFFERS\n", row.name, row.k);
        major_y.assign(size_t(row.k) * (nbins + taps), 0.0);
        const auto start = Clock::now();
        for (int32_t t0 = 0; t0 < targets; t0 += row.k)
          targets_major(bins, ids, major_h.data(), row.k, taps, major_y.data());
        seconds = seconds_since(start);
      } else {
        y.assign(size_t(nbins) * targets, 0.0);  // outside the timing
        const auto start = Clock::now();
        if (row.k == 0) add_loop();
        else if (std::strcmp(row.name, "per target") == 0) per_target();
        else if (std::strcmp(row.name, "one buffer") == 0) one_buffer();
        else columns(row.k);
        seconds = seconds_since(start);
        if (row.k != 0 && std::strcmp(row.name, "one buffer") != 0 &&
            y != reference)
          std::printf("%s %d: RESULT DIFFERS\n", row.name, row.k);
      }
      row.times.push_back(seconds);
    }
  }
  const double loop = additions / median(rows.back().times) / 1e9;
  for (const Row &row : rows) {
    if (row.times.empty()) continue;
    const double rate = additions / median(row.times) / 1e9;
    std::printf("%-14s K=%-3d %7.2f G additions/s  %5.2f of the add loop\n",
                row.name, row.k, rate, rate / loop);
  }
  std::printf("(to[] of %d values: %g)\n", 2048, to[7]);
  return 0;
}
