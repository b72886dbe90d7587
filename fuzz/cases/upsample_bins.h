// Fuzz cases of the upsampling kernel: decodes nbns, a shape and samples,
// checks the size rule against the reference, runs upsample_bins into an
// output of exactly the size the rule gives and compares it bit for bit with
// reference_upsample. Also hands the kernel outputs of the wrong shape (and
// calls with an nbns outside its domain) and checks that it writes nothing.
//
// Input layout: nbns, rows byte, columns byte, mode byte, then one value per
// sample, column by column (see fuzz_decode.h).
#ifndef FUZZ_CASES_UPSAMPLE_BINS_H
#define FUZZ_CASES_UPSAMPLE_BINS_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_decode.h"
#include "reference_kernels.h"
#include "upsampler/upsample_bins.h"

namespace {

using namespace spike_bins;

// Bits a kernel never produces from the decoded inputs by chance; the two
// fills differ so that an element written by neither side shows too.
const double kKernelFill = -1.2345678901234567e-300;
const double kReferenceFill = 9.8765432109876543e-301;

// The expected outcome of the size rule, from the reference's E and m * E.
void check_size_rule(int32_t rows, double nbns, const UpsampleShape &shape) {
  int32_t bins = 0;
  if (!reference_bins_per_sample(nbns, &bins)) {
    if (shape.status != UpsampleShapeStatus::bad_bin_count) {
      fuzz_fail("size rule accepts nbns %s", describe_double(nbns).c_str());
    }
    return;
  }
  const int64_t output_rows = reference_upsample_rows(rows, bins);
  if (output_rows > INT32_MAX) {
    if (shape.status != UpsampleShapeStatus::too_many_rows) {
      fuzz_fail("size rule accepts %d rows x nbns %s (%lld output rows)", rows,
                describe_double(nbns).c_str(),
                static_cast<long long>(output_rows));
    }
    return;
  }
  if (shape.status != UpsampleShapeStatus::ok ||
      shape.bins_per_sample != bins || shape.output_rows != output_rows) {
    fuzz_fail(
        "size rule for %d rows, nbns %s: status %d, E %d, F %d; "
        "expected E %d, F %lld",
        rows, describe_double(nbns).c_str(), static_cast<int>(shape.status),
        shape.bins_per_sample, shape.output_rows, bins,
        static_cast<long long>(output_rows));
  }
}

// The kernel given an output it must not fill: y of rows x cols (both >= 0,
// small) left exactly as it was.
void check_writes_nothing(DoubleMatrix x, double nbns, int32_t rows,
                          int32_t cols) {
  std::vector<double> y(static_cast<size_t>(rows) * cols, kKernelFill);
  upsample_bins(x, nbns, DoubleMatrix{rows, cols, y.data()});
  check_unwritten(y.data(), static_cast<int64_t>(y.size()), kKernelFill,
                  "upsample_bins into an output of the wrong shape");
}

// Decodes one case from in and checks it.
void fuzz_one(FuzzBytes *in) {
  const double nbns = take_bin_count(in);
  const int32_t rows = take_count(in, 8, 100);
  const int32_t cols = take_count(in, 4, 12);
  const uint8_t mode = take_byte(in);
  // Exactly rows * cols samples on the heap: a read past them is an overrun.
  std::vector<double> samples(static_cast<size_t>(rows) * cols);
  for (double &sample : samples) {
    sample = take_value(in);
  }
  const DoubleMatrix x{rows, cols, samples.data()};

  const UpsampleShape shape = upsample_output_shape(rows, nbns);
  check_size_rule(rows, nbns, shape);
  if (shape.status != UpsampleShapeStatus::ok) {
    // Outside the domain: whatever output it is given, nothing is written.
    check_writes_nothing(x, nbns, mode % 8, cols);
    return;
  }
  const int64_t count = int64_t{shape.output_rows} * cols;
  if (count <= kMaxFuzzOutput) {
    std::vector<double> y(static_cast<size_t>(count), kKernelFill);
    std::vector<double> expected(static_cast<size_t>(count), kReferenceFill);
    upsample_bins(x, nbns, DoubleMatrix{shape.output_rows, cols, y.data()});
    reference_upsample(samples.data(), rows, cols, nbns, expected.data());
    check_same_bits(expected.data(), y.data(), count, "upsample_bins");
  }
  int32_t y_rows = 0;
  int32_t y_cols = 0;
  if (wrong_output_shape(mode, shape.output_rows, cols, &y_rows, &y_cols)) {
    check_writes_nothing(x, nbns, y_rows, y_cols);
  }
}

}  // namespace

#endif  // FUZZ_CASES_UPSAMPLE_BINS_H
