#include "benchmarks/workloads.h"

#include <algorithm>
#include <random>

#include "upsampler/upsample_bins.h"

using namespace spike_bins;

namespace {

// Uniform double in [0, 1) from the top 53 bits: the same on every platform,
// unlike std::uniform_real_distribution.
double unit_value(std::mt19937_64 &engine) {
  return static_cast<double>(engine() >> 11) * 0x1.0p-53;
}

}  // namespace

std::vector<double> random_values(int64_t count, uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::vector<double> values(static_cast<size_t>(count));
  for (double &value : values) {
    value = 2.0 * unit_value(engine) - 1.0;
  }
  return values;
}

UpsampleData make_upsample_data(const UpsampleWorkload &w) {
  UpsampleData d;
  d.x = random_values(static_cast<int64_t>(w.rows) * w.cols, 1);
  d.output_rows = upsample_output_shape(w.rows, w.nbns).output_rows;
  return d;
}

SpikeData make_spike_data(const SpikeWorkload &w) {
  SpikeData d;
  std::mt19937_64 engine(2);
  d.spinds.resize(static_cast<size_t>(w.spikes));
  for (double &time : d.spinds) {
    time = unit_value(engine) * w.spread_bins;
  }
  std::sort(d.spinds.begin(), d.spinds.end());
  d.h_currents = random_values(static_cast<int64_t>(w.taps) * w.filters, 3);
  d.twin[0] = w.first_bin;
  d.twin[1] = w.last_bin;
  d.window_rows =
      static_cast<int32_t>(w.last_bin) - static_cast<int32_t>(w.first_bin) + 1;
  return d;
}

int64_t spike_tap_additions(const SpikeWorkload &w, const SpikeData &d) {
  const int64_t first_bin = static_cast<int64_t>(w.first_bin);
  const int64_t last_bin = static_cast<int64_t>(w.last_bin);
  int64_t additions = 0;
  for (double time : d.spinds) {
    if (time >= static_cast<double>(last_bin + 1)) {
      break;
    }
    const int64_t bin = static_cast<int64_t>(time);
    const int64_t first = std::max(bin, first_bin);
    const int64_t last = std::min(bin + w.taps - 1, last_bin);
    if (first <= last) {
      additions += (last - first + 1) * w.filters;
    }
  }
  return additions;
}
