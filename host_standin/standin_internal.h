// Internals shared by the two halves of the stand-in host (arrays and the
// module loader); not for tests or fuzzers, which use standin_host.h.
#ifndef HOST_STANDIN_STANDIN_INTERNAL_H
#define HOST_STANDIN_STANDIN_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "standin_host.h"

// Marks a live array; cleared when it is destroyed.
constexpr uint32_t kLiveArrayMagic = 0x6d784172u;

struct mxArray_tag {
  uint32_t magic;
  StandinClass array_class;
  bool is_complex;
  bool is_sparse;
  std::vector<size_t> dims;  // at least two
  size_t element_count;      // product of dims
  size_t stored_elements;    // elements in each of real and imag
  void *real;                // null when stored_elements is 0 or no data
  void *imag;                // complex arrays only
  size_t *row_indices;       // sparse: nzmax entries
  size_t *column_starts;     // sparse: n + 1 entries
};

// What the host records about the module call running on a thread.
struct StandinCallRecord {
  std::vector<mxArray *> created;
  int host_queries;
};

// The call running on this thread, or null outside standin_call.
StandinCallRecord *&standin_current_call();

// Thrown by mexErrMsgTxt, caught by standin_call.
struct StandinHostError {
  std::string message;
};

// Reports host misuse on stderr and aborts.
[[noreturn]] void standin_misuse(const char *what);

#endif  // HOST_STANDIN_STANDIN_INTERNAL_H
