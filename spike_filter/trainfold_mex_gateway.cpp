// Host entry point of the module trainfold_mex:
//   y = trainfold_mex(spinds, h_currents, twin).
//
// Checks the arguments, has the host create the zero-filled result of the
// size given by spike_window and adds into it with spike_filter_sum. Every
// refusal goes through mexErrMsgTxt before anything is created. Keeps no
// state.
#include "common/host_arrays.h"
#include "spike_filter/spike_filter_sum.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3) {
    mexErrMsgTxt(
        "needs 3 input args:  trainfold_mex(spinds, h_currents, twin)");
    return;
  }
  const mxArray *spinds = prhs[0];
  const mxArray *h_currents = prhs[1];
  const mxArray *twin_array = prhs[2];
  // Compared in the host's width: a column count beyond 2^31 must not wrap.
  if (static_cast<uint64_t>(mxGetN(spinds)) > 1) {
    mexErrMsgTxt(
        "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!");
    return;
  }
  if (!is_full_double(spinds)) {
    mexErrMsgTxt("spinds must be a full (non-sparse) double array");
    return;
  }
  if (!is_full_double(h_currents)) {
    mexErrMsgTxt("h_currents must be a full (non-sparse) double array");
    return;
  }
  if (!is_full_double(twin_array)) {
    mexErrMsgTxt("twin must be a full (non-sparse) double array");
    return;
  }
  if (mxGetNumberOfElements(twin_array) < 2) {
    mexErrMsgTxt(
        "twin must hold two values, the first and "
        "last bin of the window");
    return;
  }
  if (!has_int32_dims(spinds) || !has_int32_dims(h_currents)) {
    mexErrMsgTxt(
        "spinds or h_currents has more than 2^31 - 1 "
        "rows or columns");
    return;
  }
  // A column of rows with no column holds no spike times: count the elements,
  // not the rows.
  const int32_t spike_count =
      static_cast<int32_t>(mxGetNumberOfElements(spinds));
  const double *spike_times = mxGetPr(spinds);
  const DoubleMatrix filters = matrix_view(h_currents);
  const double *twin = mxGetPr(twin_array);
  const SpikeWindow window = spike_window(twin);
  if (window.status == SpikeWindowStatus::bad_end) {
    mexErrMsgTxt(
        "twin values must be numbers within the "
        "32-bit integer range (not NaN or Inf)");
    return;
  }
  if (window.status == SpikeWindowStatus::negative_rows) {
    mexErrMsgTxt(
        "twin(2) must be at least twin(1) - 1 (the "
        "window would have a negative number of rows)");
    return;
  }
  if (window.status != SpikeWindowStatus::ok) {
    mexErrMsgTxt(
        "the window twin(1) .. twin(2) has more than "
        "2^31 - 1 bins");
    return;
  }
  plhs[0] = mxCreateDoubleMatrix(window.rows, filters.cols, mxREAL);
  spike_filter_sum(spike_times, spike_count, filters, twin,
                   matrix_view(plhs[0]));
}
