// Benchmark workloads and their input data.
//
// The same shapes are used by the kernel benchmarks, the in-host script and
// the numpy/scipy companion, so that their tables can be read side by side.
// Data comes from a fixed seed: every run times the same values.
#ifndef BENCHMARKS_WORKLOADS_H
#define BENCHMARKS_WORKLOADS_H

#include <cstdint>
#include <vector>

// An upsampling call: x is rows x cols, nbns fine bins per coarse bin.
struct UpsampleWorkload {
  const char *name;
  int32_t rows;
  int32_t cols;
  double nbns;
};

// A spike-sum call: spikes ascending times spread over [0, spread_bins),
// a filter bank of taps x filters, window bins first_bin .. last_bin.
struct SpikeWorkload {
  const char *name;
  int32_t spikes;
  int32_t spread_bins;
  int32_t taps;
  int32_t filters;
  double first_bin;
  double last_bin;
};

// Inputs of one upsampling call, output sized by upsample_output_shape.
struct UpsampleData {
  std::vector<double> x;
  int32_t output_rows;
};

// Inputs of one spike-sum call; output is window rows x filters.
struct SpikeData {
  std::vector<double> spinds;
  std::vector<double> h_currents;
  double twin[2];
  int32_t window_rows;
};

// Uniform values in [-1, 1) from a fixed seed.
std::vector<double> random_values(int64_t count, uint64_t seed);

UpsampleData make_upsample_data(const UpsampleWorkload &w);
SpikeData make_spike_data(const SpikeWorkload &w);

// The number of tap additions the kernel makes for this call: the sum over
// the spikes it takes of filters x (overlap of the filter with the window).
int64_t spike_tap_additions(const SpikeWorkload &w, const SpikeData &d);

#endif  // BENCHMARKS_WORKLOADS_H
