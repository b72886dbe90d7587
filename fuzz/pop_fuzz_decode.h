// Decoding shared by the fuzz targets of the population kernels: a window,
// a tap count, a source count (mostly valid, sometimes any value), the id
// base, the output columns, spike times and their source ids (mostly valid,
// sometimes out of range, fractional, NaN or +-Inf).
//
// Input layout: twin[0], twin[1], taps byte, sources byte (top bit: a value
// follows instead), outputs byte, spikes byte, mode byte (bit 0x01: base 1),
// then the spike times, then per spike an id byte (ids byte >= 0xf0: a value
// follows instead).
#ifndef FUZZ_POP_FUZZ_DECODE_H
#define FUZZ_POP_FUZZ_DECODE_H

#include <cstdint>
#include <vector>

#include "fuzz_decode.h"
#include "reference_kernels.h"
#include "spike_filter/spike_filter_sum.h"

struct PopFuzzInput {
  std::vector<double> twin;  // exactly two, on the heap
  int32_t taps;
  double nsources;
  int32_t sources;  // N when nsources is valid, else 0
  int32_t outputs;
  int32_t base;
  uint8_t mode;
  std::vector<double> spikes;
  std::vector<double> ids;
  bool ids_ok;  // the reference accepts the ids
};

inline PopFuzzInput take_pop_input(FuzzBytes *in) {
  PopFuzzInput c;
  c.twin.resize(2);
  c.twin[0] = take_window_end(in, 0.0, false);
  c.twin[1] = take_window_end(in, c.twin[0], true);
  c.taps = take_count(in, 6, 40);
  const uint8_t sources_byte = take_byte(in);
  c.nsources = (sources_byte & 0x80) ? take_value(in) : 1 + sources_byte % 4;
  c.outputs = take_count(in, 3, 6);
  const int32_t spike_count = take_count(in, 12, 127);
  c.mode = take_byte(in);
  c.base = c.mode & 1;
  const spike_bins::SpikeWindow window =
      spike_bins::spike_window(c.twin.data());
  const bool window_ok = window.status == spike_bins::SpikeWindowStatus::ok;
  for (int32_t i = 0; i < spike_count; ++i) {
    c.spikes.push_back(window_ok ? take_spike_time(in, window.first_bin,
                                                   window.last_bin, c.taps)
                                 : take_spike_time(in, 0, 0, c.taps));
  }
  c.sources = 0;
  if (!reference_source_count(c.nsources, &c.sources)) c.sources = 0;
  for (int32_t i = 0; i < spike_count; ++i) {
    const uint8_t id_byte = take_byte(in);
    const int32_t known = c.sources > 0 && c.sources <= 64 ? c.sources : 4;
    c.ids.push_back(id_byte >= 0xf0 ? take_value(in)
                                    : c.base + id_byte % known);
  }
  c.ids_ok = c.sources > 0 &&
             reference_source_ids(c.ids.data(), spike_count, c.sources, c.base);
  return c;
}

#endif  // FUZZ_POP_FUZZ_DECODE_H
