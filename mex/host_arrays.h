// Gateway-side helpers for reading host arrays and raising host errors.
//
// Used only by the module gateways: the kernels and their tests never include
// this header, so they build with no host.
//
// Octave hands some values over as it stores them (ranges, diagonal and
// permutation matrices, lazy indices, complex values) and converts one to a
// full real matrix only when a module asks for its data (mxGetPr). Dims that
// a module asked for first (mxGetN, mxGetDimensions, mxGetNumberOfDimensions)
// are lost at that conversion: 16 bytes or more per argument and call. The
// row and element counts (mxGetM, mxGetNumberOfElements) keep nothing, so the
// helpers below take the sizes from them, ask for the column count only of an
// array with no rows, and never ask for the data of an array with no
// elements. Gateways take the data of an argument only after their last
// refusal, so that a refusal never converts a huge lazily stored argument.
// MATLAB stores every value in full; the same calls are valid there.
#ifndef MEX_HOST_ARRAYS_H
#define MEX_HOST_ARRAYS_H

#include <cstdint>
#include <cstdlib>

#include "common/double_matrix.h"
#include "mex.h"

// The module's one export; everything else stays hidden.
#if defined(_WIN32)
#define MODULE_EXPORT __declspec(dllexport)
#else
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif

// Raises a host error with the message and ends the call. mexErrMsgTxt never
// returns, but Octave's mex.h does not say so; the abort is never reached and
// lets the compiler see that no code runs after a refusal.
[[noreturn]] inline void refuse(const char *message) {
  mexErrMsgTxt(message);
  std::abort();
}

// Dense double data (real, or complex with its real part first) is the only
// storage mxGetPr can hand out safely as rows * columns doubles: other classes
// hold another element type, and sparse arrays hold fewer values.
inline bool is_full_double(const mxArray *array) {
  return mxIsDouble(array) && !mxIsSparse(array);
}

// Rows and columns (the product of all dims after the first) of a host array,
// in the host's width.
struct HostSize {
  uint64_t rows;
  uint64_t cols;
};

// Any array, of any class: reads no data and converts nothing.
inline HostSize host_size(const mxArray *array) {
  const uint64_t rows = mxGetM(array);
  if (rows == 0) {
    // No elements, so data_of never converts it: its dims cannot be lost.
    return HostSize{0, static_cast<uint64_t>(mxGetN(array))};
  }
  return HostSize{rows,
                  static_cast<uint64_t>(mxGetNumberOfElements(array)) / rows};
}

// The views' counts are 32-bit.
inline bool fits_int32(uint64_t count) { return count <= INT32_MAX; }

inline bool fits_int32(HostSize size) {
  return fits_int32(size.rows) && fits_int32(size.cols);
}

// Data of a full double array (its real part); null when it has no elements.
inline double *data_of(const mxArray *array) {
  return mxGetNumberOfElements(array) == 0 ? nullptr : mxGetPr(array);
}

// View of a full double array of the given size (checked by fits_int32).
inline DoubleMatrix matrix_view(const mxArray *array, HostSize size) {
  return DoubleMatrix{static_cast<int32_t>(size.rows),
                      static_cast<int32_t>(size.cols), data_of(array)};
}

// Has the host create the zero-filled rows x cols real double result, stores
// its handle in *slot at once (the host owns it from then on) and returns the
// view of it.
inline DoubleMatrix create_result(mxArray **slot, int32_t rows, int32_t cols) {
  *slot = mxCreateDoubleMatrix(rows, cols, mxREAL);
  return DoubleMatrix{rows, cols, mxGetPr(*slot)};
}

#endif  // MEX_HOST_ARRAYS_H
