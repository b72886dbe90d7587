// Benchmark-only module trainfold_create_only(spinds, h_currents, twin): has
// the host create the zero-filled result of the size trainfold_mex returns
// and returns it. Its time is the host's own floor for a trainfold_mex call.
#include "mex/host_arrays.h"
#include "spike_filter/spike_filter_sum.h"

using namespace spike_bins;

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3) {
    refuse("trainfold_create_only needs 3 input args");
  }
  const SpikeWindow window = spike_window(mxGetPr(prhs[2]));
  if (window.status != SpikeWindowStatus::ok) {
    refuse("trainfold_create_only: no valid window");
  }
  plhs[0] = mxCreateDoubleMatrix(window.rows, mxGetN(prhs[1]), mxREAL);
}
