// Fuzz cases of the upsampling adjoint: decodes nbns, a sample count, a
// column count and r, checks the shape rule against the reference, runs
// upsample_bins_adjoint into an output of exactly the rule's size and
// compares it bit for bit with reference_upsample_adjoint. Outputs of the
// wrong shape, r of a row count that is not a multiple of E, and an nbns
// outside the domain must leave the output untouched.
//
// Input layout: nbns, samples byte, columns byte, mode byte, then r column by
// column (see fuzz_decode.h). r has samples * E rows, or, with mode bit 0x40,
// (mode & 7) - 3 rows more.
#ifndef FUZZ_CASES_UPSAMPLE_BINS_ADJOINT_H
#define FUZZ_CASES_UPSAMPLE_BINS_ADJOINT_H

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_decode.h"
#include "reference_kernels.h"
#include "upsampler/upsample_bins_adjoint.h"

namespace {

using namespace spike_bins;

const double kKernelFill = -1.2345678901234567e-300;
const double kReferenceFill = 9.8765432109876543e-301;

// The expected outcome of the shape rule, from the reference's E.
void check_shape_rule(int32_t rows, double nbns,
                      const UpsampleAdjointShape &shape) {
  int32_t bins = 0;
  if (!reference_adjoint_bins_per_sample(nbns, &bins)) {
    if (shape.status != UpsampleAdjointShapeStatus::bad_bin_count) {
      fuzz_fail("adjoint shape rule accepts nbns %s",
                describe_double(nbns).c_str());
    }
    return;
  }
  if (rows < 0 || rows % bins != 0) {
    if (shape.status != UpsampleAdjointShapeStatus::bad_input_rows) {
      fuzz_fail("adjoint shape rule accepts %d rows for E = %d", rows, bins);
    }
    return;
  }
  if (shape.status != UpsampleAdjointShapeStatus::ok ||
      shape.bins_per_sample != bins || shape.output_rows != rows / bins) {
    fuzz_fail("adjoint shape rule for %d rows, nbns %s: status %d, E %d, m %d",
              rows, describe_double(nbns).c_str(),
              static_cast<int>(shape.status), shape.bins_per_sample,
              shape.output_rows);
  }
}

void check_writes_nothing(DoubleMatrix r, double nbns, int32_t rows,
                          int32_t cols) {
  std::vector<double> g(static_cast<size_t>(rows) * cols, kKernelFill);
  upsample_bins_adjoint(r, nbns, DoubleMatrix{rows, cols, g.data()});
  check_unwritten(g.data(), static_cast<int64_t>(g.size()), kKernelFill,
                  "upsample_bins_adjoint into an output it must not fill");
}

// Decodes one case from in and checks it.
void fuzz_one(FuzzBytes *in) {
  const double nbns = take_bin_count(in);
  const int32_t samples = take_count(in, 8, 100);
  const int32_t cols = take_count(in, 4, 12);
  const uint8_t mode = take_byte(in);
  // r's rows from E as the forward's rule would give it; E = 1 where nbns
  // gives no usable E.
  int32_t bins = 1;
  if (!reference_adjoint_bins_per_sample(nbns, &bins)) bins = 1;
  int64_t rows = int64_t{samples} * bins;
  if (mode & 0x40) rows += (mode & 7) - 3;
  if (rows < 0 || rows * cols > kMaxFuzzOutput) {
    return;  // the shape rule for such sizes is checked by the kernel tests
  }
  // Exactly rows * cols values on the heap: a read past them is an overrun.
  std::vector<double> values(static_cast<size_t>(rows * cols));
  for (double &v : values) {
    v = take_value(in);
  }
  const DoubleMatrix r{static_cast<int32_t>(rows), cols, values.data()};

  const UpsampleAdjointShape shape = upsample_adjoint_shape(r.rows, nbns);
  check_shape_rule(r.rows, nbns, shape);
  if (shape.status != UpsampleAdjointShapeStatus::ok) {
    check_writes_nothing(r, nbns, mode % 8, cols);
    check_writes_nothing(r, nbns, samples, cols);
    return;
  }
  const int64_t count = int64_t{shape.output_rows} * cols;
  std::vector<double> g(static_cast<size_t>(count), kKernelFill);
  std::vector<double> expected(static_cast<size_t>(count), kReferenceFill);
  upsample_bins_adjoint(r, nbns,
                        DoubleMatrix{shape.output_rows, cols, g.data()});
  reference_upsample_adjoint(values.data(), r.rows, cols, nbns,
                             expected.data());
  check_same_bits(expected.data(), g.data(), count, "upsample_bins_adjoint");
  int32_t y_rows = 0;
  int32_t y_cols = 0;
  if (wrong_output_shape(mode, shape.output_rows, cols, &y_rows, &y_cols)) {
    check_writes_nothing(r, nbns, y_rows, y_cols);
  }
}

}  // namespace

#endif  // FUZZ_CASES_UPSAMPLE_BINS_ADJOINT_H
