// Host-neutral argument checks: what a host knows about each argument goes
// in, the result's shape or one refusal comes out.
//
// Each module has one check function (tentfill2_check, trainfold_check, ...)
// that applies every refusal in a fixed order and defines every message. The
// MATLAB/Octave gateways and the Python binding describe their arguments as
// ArgInfo, call the same check and raise its refusal each in its own way:
// mexErrMsgTxt with mex_text, or the Python exception of the refusal's kind
// with python_text. Nothing is created before the check has passed.
#ifndef COMMON_ARG_CHECK_H
#define COMMON_ARG_CHECK_H

#include <cstddef>
#include <cstdint>
#include <limits>

namespace spike_bins {

// What a host knows about one matrix argument, without reading its data.
struct ArgInfo {
  // The host can hand the data over as real doubles: a full double array in
  // MATLAB/Octave; an array of real numbers (bool, integer or float) in
  // Python.
  bool numeric;
  // More dimensions than this host accepts for a matrix argument. MATLAB and
  // Octave count every dimension after the first as columns, so their
  // gateways never set it; the Python binding sets it for ndim > 2.
  bool extra_dims;
  uint64_t rows;  // the first dimension (a 1-D array is one column)
  uint64_t cols;  // the product of the other dimensions
};

// rows * cols, saturating at 2^64 - 1.
inline uint64_t element_count(const ArgInfo &arg) {
  if (arg.rows != 0 && arg.cols > UINT64_MAX / arg.rows) return UINT64_MAX;
  return arg.rows * arg.cols;
}

enum class RefusalKind {
  none,       // the call can go ahead
  arg_count,  // wrong number of arguments (Python: TypeError)
  arg_type,   // an argument the host cannot read as real numbers (TypeError)
  arg_value,  // a size or value out of range (ValueError)
};

struct Refusal {
  RefusalKind kind;
  const char *mex_text;     // as raised by the MATLAB/Octave gateway
  const char *python_text;  // as raised by the Python binding
};

constexpr Refusal kNoRefusal{RefusalKind::none, "", ""};

// Counts the views take: 0 .. 2^31 - 1.
inline bool fits_int32(uint64_t count) { return count <= INT32_MAX; }

inline bool dims_fit_int32(const ArgInfo &arg) {
  return fits_int32(arg.rows) && fits_int32(arg.cols);
}

// A result of rows x cols doubles can be addressed by this process: its size
// in bytes fits in ptrdiff_t (the largest object size C++ allows, and what
// the hosts' own size arithmetic assumes).
inline bool result_addressable(int32_t rows, int32_t cols) {
  const uint64_t limit =
      static_cast<uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
      sizeof(double);
  return rows <= 0 || cols <= 0 ||
         static_cast<uint64_t>(rows) * static_cast<uint64_t>(cols) <= limit;
}

// The one message for a result too large to address, shared by every module.
constexpr Refusal kResultTooLarge{
    RefusalKind::arg_value,
    "the result would be larger than this process can address (rows x "
    "columns x 8 bytes)",
    "the result would be larger than this process can address (rows x "
    "columns x 8 bytes)"};

}  // namespace spike_bins

#endif  // COMMON_ARG_CHECK_H
