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
#include <initializer_list>
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

// A text of N - 1 characters made at compile time, so that each message
// pattern is written once and takes the argument's name.
template <std::size_t N>
struct Text {
  char chars[N];
};

template <std::size_t... N>
constexpr Text<(N + ...) - sizeof...(N) + 1> join(const char (&...parts)[N]) {
  Text<(N + ...) - sizeof...(N) + 1> out{};
  std::size_t at = 0;
  for (const char *part : {static_cast<const char *>(parts)...}) {
    for (; *part != '\0'; ++part) out.chars[at++] = *part;
  }
  return out;
}

// A refusal that holds its texts; a constant of static storage hands out
// the Refusal that points at them.
template <std::size_t M, std::size_t P>
struct RefusalTexts {
  RefusalKind kind;
  Text<M> mex_text;
  Text<P> python_text;
  constexpr operator Refusal() const {
    return {kind, mex_text.chars, python_text.chars};
  }
};

template <std::size_t M, std::size_t P>
constexpr RefusalTexts<M, P> refusal(RefusalKind kind, const Text<M> &mex_text,
                                     const Text<P> &python_text) {
  return {kind, mex_text, python_text};
}

template <std::size_t N>
constexpr auto refusal(RefusalKind kind, const Text<N> &text) {
  return refusal(kind, text, text);
}

// The message patterns every module's check takes its texts from.

// Wrong argument count: "<name> needs <count> input args: <list>" from the
// MATLAB/Octave gateways, "<name>() takes <count> arguments: <list>" from
// Python.
template <std::size_t N, std::size_t C, std::size_t L>
constexpr auto needs_args_text(const char (&name)[N], const char (&count)[C],
                               const char (&list)[L]) {
  return join(name, " needs ", count, " input args: ", list);
}

template <std::size_t M, std::size_t C, std::size_t L, std::size_t N>
constexpr auto arg_count_refusal(const Text<M> &mex_text,
                                 const char (&python_name)[N],
                                 const char (&count)[C],
                                 const char (&list)[L]) {
  return refusal(RefusalKind::arg_count, mex_text,
                 join(python_name, "() takes ", count, " arguments: ", list));
}

template <std::size_t N, std::size_t C, std::size_t L>
constexpr auto arg_count_refusal(const char (&name)[N], const char (&count)[C],
                                 const char (&list)[L]) {
  return arg_count_refusal(needs_args_text(name, count, list), name, count,
                           list);
}

// An argument the host cannot read as real doubles. MATLAB/Octave name the
// class they need; Python what it takes: an array of real numbers (a
// matrix; for values that are read one by one, no sparse matrix is named)
// or one real number (a scalar).
template <std::size_t N>
constexpr auto mex_type_text(const char (&name)[N]) {
  return join(name, " must be a full (non-sparse) double array");
}

template <std::size_t N>
constexpr auto matrix_type_refusal(const char (&name)[N]) {
  return refusal(RefusalKind::arg_type, mex_type_text(name),
                 join(name,
                      " must be an array of real numbers (bool, "
                      "integer or float; not complex, text, objects "
                      "or a sparse matrix)"));
}

template <std::size_t N>
constexpr auto values_type_refusal(const char (&name)[N]) {
  return refusal(RefusalKind::arg_type, mex_type_text(name),
                 join(name,
                      " must be an array of real numbers (bool, "
                      "integer or float; not complex, text or "
                      "objects)"));
}

template <std::size_t N>
constexpr auto scalar_type_refusal(const char (&name)[N]) {
  return refusal(RefusalKind::arg_type, mex_type_text(name),
                 join(name,
                      " must be a real number (bool, integer or float; "
                      "not complex, text or objects)"));
}

// A scalar argument with no elements: "<name> is empty; it must hold <what>".
template <std::size_t N, std::size_t W>
constexpr auto empty_refusal(const char (&name)[N], const char (&what)[W]) {
  return refusal(RefusalKind::arg_value,
                 join(name, " is empty; it must hold ", what));
}

// More than two dimensions (Python only): "<name> must have at most 2
// dimensions (a 1-D <name> is one <unit>)".
template <std::size_t N, std::size_t U>
constexpr auto dims_refusal(const char (&name)[N], const char (&unit)[U]) {
  return refusal(RefusalKind::arg_value,
                 join(name, " must have at most 2 dimensions (a 1-D ", name,
                      " is one ", unit, ")"));
}

// Sizes beyond the 32-bit counts: "<names> has more than 2^31 - 1 rows or
// columns".
template <std::size_t N>
constexpr auto size_refusal(const char (&names)[N]) {
  return refusal(RefusalKind::arg_value,
                 join(names, " has more than 2^31 - 1 rows or columns"));
}

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
