// Benchmark-only module tentfill2_create_only(x, nbns): has the host create a
// result of the size tentfill2 returns and returns it unfilled (zeros). Its
// time is the host's own floor for a tentfill2 call: argument passing, the
// result's allocation and zero-fill, and handing the result back.
#include "mex/host_arrays.h"
#include "upsampler/upsample_bins.h"

using namespace spike_bins;

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2) {
    refuse("tentfill2_create_only needs 2 input args: x, nbns");
  }
  const UpsampleShape shape = upsample_output_shape(
      static_cast<int32_t>(mxGetM(prhs[0])), mxGetPr(prhs[1])[0]);
  if (shape.status != UpsampleShapeStatus::ok) {
    refuse("tentfill2_create_only: no valid result size");
  }
  plhs[0] = mxCreateDoubleMatrix(shape.output_rows, mxGetN(prhs[0]), mxREAL);
}
