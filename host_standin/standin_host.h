// Host side of the stand-in host: what a test or a fuzzer uses to make
// argument arrays, load a module and call its mexFunction the way the real
// host does. The module side (mx* and mexErrMsgTxt) is declared in mex.h; both
// are implemented by the shared library host_standin.
//
// Arrays
//   Every array is a separate heap object with data buffers sized exactly to
//   its data, so AddressSanitizer reports any read past the last element. An
//   array with no elements has no buffer at all (mxGetPr gives null). Numeric,
//   logical and char arrays hold one buffer of their element type (complex
//   ones a second buffer for the imaginary part, as in the host's separate
//   storage); cell and struct arrays hold no data buffer; sparse doubles hold
//   nzmax values plus row and column indices. mxGetPr hands out the real
//   buffer whatever the class, as the host does, so a gateway that reads a
//   single or int8 array as doubles overruns its buffer.
//
// Huge arrays
//   standin_create_huge_array makes an array whose dimensions may go beyond
//   2^31 - 1 while storing only its first few elements: the refusals of
//   oversized arguments can be tested without allocating their data, and any
//   read past the stored elements is an overrun.
//
// Host misuse
//   Handing the host something no real host would accept (a null or
//   destroyed array handle, a negative size or an unknown complexity flag in
//   mxCreateDoubleMatrix_700, mexErrMsgTxt outside a call) prints a message
//   starting with "stand-in host:" to stderr and aborts the process, so that
//   tests and fuzzers see it as a crash.
//
// Calls
//   standin_call runs one mexFunction call on the calling thread. An error
//   raised with mexErrMsgTxt unwinds out of the module (a C++ exception that
//   carries the message; no global state) and ends the call: the arrays the
//   module created during the call are destroyed and the message is returned.
//   Any number of threads may call modules at once; the per-call record is
//   thread_local. Modules must keep the compiler's default unwind tables
//   (no -fno-asynchronous-unwind-tables together with -fno-exceptions) so
//   that the error can unwind through them.
//
// Building against it
//   Link host_standin (CMake target; its include directory holds mex.h and
//   this header) into the test or fuzzer, and build each module with
//   add_mex_module(... HOST_INCLUDE host_standin HOST_LIBS host_standin), as
//   host_standin/CMakeLists.txt does for standin_tentfill2 and
//   standin_trainfold_mex. The module then needs the stand-in library, which
//   the caller has already loaded, so both share one host.
#ifndef HOST_STANDIN_STANDIN_HOST_H
#define HOST_STANDIN_STANDIN_HOST_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "mex.h"

enum class StandinClass {
  double_class,
  single_class,
  int8_class,
  uint8_class,
  int16_class,
  uint16_class,
  int32_class,
  uint32_class,
  int64_class,
  uint64_class,
  logical_class,  // one byte per element
  char_class,     // two bytes per element
  cell_class,     // no data buffer
  struct_class,   // no data buffer
};

// Bytes per stored element (0 for cell and struct).
size_t standin_element_size(StandinClass array_class);
// Lower-case name of the class ("double", "int8", "logical", ...).
const char *standin_class_name(StandinClass array_class);

// ---- Creating and destroying arrays ---------------------------------------
// Dimensions: fewer than two are padded with 1 (no dims gives 1 x 1), trailing
// singleton dimensions beyond the second are dropped, zeros are allowed. The
// element count (product of dims) must fit in size_t. Data are zero-filled.
// complexity mxCOMPLEX is allowed for numeric classes only.

mxArray *standin_create_array(StandinClass array_class,
                              const std::vector<size_t> &dims,
                              mxComplexity complexity = mxREAL);

// Real double array with the given dims holding values (one per element,
// column-major; values.size() must equal the element count).
mxArray *standin_create_doubles(const std::vector<size_t> &dims,
                                const std::vector<double> &values);

// Array of any dims (beyond 2^31 - 1 too) that stores only its first
// min(stored_elements, element count) elements, zero-filled; with 0 stored
// elements mxGetPr gives null. Meant for arguments whose data a correct
// gateway never reads (or reads only the first values of).
mxArray *standin_create_huge_array(StandinClass array_class,
                                   const std::vector<size_t> &dims,
                                   size_t stored_elements);

// Sparse double of m x n with room for nzmax nonzeros (values, row indices
// and column starts zero; mxGetPr gives the nzmax values, null for 0).
mxArray *standin_create_sparse(size_t m, size_t n, size_t nzmax,
                               mxComplexity complexity = mxREAL);

// Frees the array and its buffers; null is ignored.
void standin_destroy_array(mxArray *array);

struct StandinArrayDeleter {
  void operator()(mxArray *array) const { standin_destroy_array(array); }
};
// Owning handle for arrays made or returned through this API.
using StandinArray = std::unique_ptr<mxArray, StandinArrayDeleter>;

// ---- Inspecting arrays -----------------------------------------------------

StandinClass standin_array_class(const mxArray *array);
std::vector<size_t> standin_dims(const mxArray *array);
bool standin_is_complex(const mxArray *array);
// Elements held in each data buffer: the element count, except for huge
// arrays (fewer) and sparse arrays (nzmax).
size_t standin_stored_elements(const mxArray *array);
// Writable data buffers (null when there are none): the real part (or the
// only part) and the imaginary part of complex arrays.
void *standin_real_data(const mxArray *array);
void *standin_imag_data(const mxArray *array);
// Copy of the stored real values of a double array.
std::vector<double> standin_double_values(const mxArray *array);

// ---- Loading modules and calling them -------------------------------------

typedef void StandinMexEntry(int nlhs, mxArray *plhs[], int nrhs,
                             const mxArray *prhs[]);

struct StandinModule {
  void *handle;            // from dlopen
  StandinMexEntry *entry;  // the module's mexFunction
};

// Opens the module file with every symbol bound at once (so an mx or mex
// symbol the stand-in host lacks fails here) and finds mexFunction. Returns
// false and sets *error (dlerror text) when either fails.
bool standin_load_module(const std::string &path, StandinModule *module,
                         std::string *error);
// Closes the module; the module must not be in a call.
void standin_unload_module(StandinModule *module);

struct StandinCallResult {
  bool ok;                    // mexFunction returned normally
  std::string error_message;  // the text given to mexErrMsgTxt when !ok
  int arrays_created;  // arrays the module created in the call, kept or not
  int host_queries;    // mx* calls the module made in the call
};

// Calls mexFunction(nlhs, plhs, nrhs, prhs) of a loaded module on this
// thread. plhs must have room for max(nlhs, 1) initialised slots; prhs holds
// nrhs argument arrays, which the caller keeps owning. On success the arrays
// left in plhs[0 .. max(nlhs,1)-1] pass to the caller and any other array the
// module created is destroyed; on error every array the module created is
// destroyed and the plhs slots are left as the module left them (the caller
// must not use values it did not put there).
StandinCallResult standin_call(const StandinModule &module, int nlhs,
                               mxArray *plhs[], int nrhs,
                               const mxArray *prhs[]);

#endif  // HOST_STANDIN_STANDIN_HOST_H
