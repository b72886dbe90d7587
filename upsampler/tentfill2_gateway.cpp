// Host entry point of the module tentfill2:  y = tentfill2(x, nbns).
//
// Checks the arguments, has the host create the result of the size given by
// upsample_output_shape and fills it with upsample_bins. Every refusal goes
// through mexErrMsgTxt before anything is created. Keeps no state.
#include "common/host_arrays.h"
#include "upsampler/upsample_bins.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2) {
    mexErrMsgTxt("tentfill needs 2 input args: x, nbns");
    return;
  }
  const mxArray *x = prhs[0];
  const mxArray *nbns_array = prhs[1];
  if (!is_full_double(x)) {
    mexErrMsgTxt("x must be a full (non-sparse) double array");
    return;
  }
  if (!is_full_double(nbns_array)) {
    mexErrMsgTxt("nbns must be a full (non-sparse) double array");
    return;
  }
  if (mxGetNumberOfElements(nbns_array) == 0) {
    mexErrMsgTxt(
        "nbns is empty; it must hold the number of fine "
        "bins per coarse bin");
    return;
  }
  if (!has_int32_dims(x)) {
    mexErrMsgTxt("x has more than 2^31 - 1 rows or columns");
    return;
  }
  const double nbns = mxGetPr(nbns_array)[0];
  const DoubleMatrix input = matrix_view(x);
  const UpsampleShape shape = upsample_output_shape(input.rows, nbns);
  if (shape.status == UpsampleShapeStatus::bad_bin_count) {
    mexErrMsgTxt(
        "nbns must be a number greater than -1 and less "
        "than 2^31 (not NaN or Inf)");
    return;
  }
  if (shape.status != UpsampleShapeStatus::ok) {
    mexErrMsgTxt(
        "the result would have more than 2^31 - 1 rows "
        "(size(x, 1) * fix(nbns))");
    return;
  }
  plhs[0] = mxCreateDoubleMatrix(shape.output_rows, input.cols, mxREAL);
  upsample_bins(input, nbns, matrix_view(plhs[0]));
}
