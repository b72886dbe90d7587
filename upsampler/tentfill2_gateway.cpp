// Host entry point of the module tentfill2:  y = tentfill2(x, nbns).
//
// Checks the arguments, has the host create the result of the size given by
// upsample_output_shape and fills it with upsample_bins. Every refusal comes
// before anything is created, and before the data of x is taken (see
// mex/host_arrays.h). Keeps no state.
#include "mex/host_arrays.h"
#include "upsampler/upsample_bins.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2) {
    refuse("tentfill needs 2 input args: x, nbns");
  }
  const mxArray *x = prhs[0];
  const mxArray *nbns_array = prhs[1];
  if (!is_full_double(x)) {
    refuse("x must be a full (non-sparse) double array");
  }
  if (!is_full_double(nbns_array)) {
    refuse("nbns must be a full (non-sparse) double array");
  }
  if (mxGetNumberOfElements(nbns_array) == 0) {
    refuse(
        "nbns is empty; it must hold the number of fine bins per coarse bin");
  }
  const HostSize x_size = host_size(x);
  if (!fits_int32(x_size)) {
    refuse("x has more than 2^31 - 1 rows or columns");
  }
  const double nbns = mxGetPr(nbns_array)[0];
  const UpsampleShape shape =
      upsample_output_shape(static_cast<int32_t>(x_size.rows), nbns);
  if (shape.status == UpsampleShapeStatus::bad_bin_count) {
    refuse(
        "nbns must be a number greater than -1 and less than 2^31 (not NaN or "
        "Inf)");
  }
  if (shape.status != UpsampleShapeStatus::ok) {
    refuse(
        "the result would have more than 2^31 - 1 rows (size(x, 1) * "
        "fix(nbns))");
  }
  const DoubleMatrix input = matrix_view(x, x_size);
  const DoubleMatrix result =
      create_result(&plhs[0], shape.output_rows, input.cols);
  upsample_bins(input, nbns, result);
}
