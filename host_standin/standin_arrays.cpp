// Host arrays of the stand-in host: creation and destruction for tests and
// fuzzers, and the mx* operations a module calls.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mex.h"
#include "standin_internal.h"

namespace {

// Element count of dims, or misuse when it does not fit in size_t.
size_t count_elements(const std::vector<size_t> &dims) {
  size_t count = 1;
  for (size_t dim : dims) {
    if (dim != 0 && count > SIZE_MAX / dim) {
      standin_misuse("array element count does not fit in size_t");
    }
    count *= dim;
  }
  return count;
}

std::vector<size_t> normalized_dims(std::vector<size_t> dims) {
  while (dims.size() < 2) {
    dims.push_back(1);
  }
  while (dims.size() > 2 && dims.back() == 1) {
    dims.pop_back();
  }
  return dims;
}

bool is_numeric(StandinClass array_class) {
  return array_class != StandinClass::logical_class &&
         array_class != StandinClass::char_class &&
         array_class != StandinClass::cell_class &&
         array_class != StandinClass::struct_class;
}

// Exactly count * size bytes, zero-filled; null for none.
void *allocate_zeroed(size_t count, size_t size) {
  if (count == 0 || size == 0) {
    return nullptr;
  }
  void *buffer = std::calloc(count, size);
  if (buffer == nullptr) {
    standin_misuse("out of memory for array data");
  }
  return buffer;
}

mxArray *new_array(StandinClass array_class, const std::vector<size_t> &dims,
                   mxComplexity complexity, size_t stored_elements) {
  if (complexity != mxREAL && complexity != mxCOMPLEX) {
    standin_misuse("unknown complexity flag");
  }
  if (complexity == mxCOMPLEX && !is_numeric(array_class)) {
    standin_misuse("only numeric arrays can be complex");
  }
  mxArray *array = new mxArray_tag{};
  array->magic = kLiveArrayMagic;
  array->array_class = array_class;
  array->is_complex = complexity == mxCOMPLEX;
  array->is_sparse = false;
  array->dims = normalized_dims(dims);
  array->element_count = count_elements(array->dims);
  count_elements({array->dims.begin() + 1, array->dims.end()});  // mxGetN
  array->stored_elements = stored_elements < array->element_count
                               ? stored_elements
                               : array->element_count;
  const size_t size = standin_element_size(array_class);
  array->real = allocate_zeroed(array->stored_elements, size);
  array->imag = array->is_complex
                    ? allocate_zeroed(array->stored_elements, size)
                    : nullptr;
  return array;
}

const mxArray *checked(const mxArray *array) {
  if (array == nullptr) {
    standin_misuse("null array handle");
  }
  if (array->magic != kLiveArrayMagic) {
    standin_misuse("array handle of no live array");
  }
  return array;
}

// An mx* operation called by the module: counted, handle checked.
const mxArray *queried(const mxArray *array) {
  StandinCallRecord *call = standin_current_call();
  if (call != nullptr) {
    ++call->host_queries;
  }
  return checked(array);
}

// Product of all dims after the first (checked to fit at creation).
size_t columns_of(const mxArray *array) {
  size_t columns = 1;
  for (size_t i = 1; i < array->dims.size(); ++i) {
    columns *= array->dims[i];
  }
  return columns;
}

}  // namespace

void standin_misuse(const char *what) {
  std::fprintf(stderr, "stand-in host: %s\n", what);
  std::abort();
}

size_t standin_element_size(StandinClass array_class) {
  switch (array_class) {
    case StandinClass::double_class:
    case StandinClass::int64_class:
    case StandinClass::uint64_class:
      return 8;
    case StandinClass::single_class:
    case StandinClass::int32_class:
    case StandinClass::uint32_class:
      return 4;
    case StandinClass::int16_class:
    case StandinClass::uint16_class:
    case StandinClass::char_class:
      return 2;
    case StandinClass::int8_class:
    case StandinClass::uint8_class:
    case StandinClass::logical_class:
      return 1;
    case StandinClass::cell_class:
    case StandinClass::struct_class:
      return 0;
  }
  return 0;
}

const char *standin_class_name(StandinClass array_class) {
  switch (array_class) {
    case StandinClass::double_class:
      return "double";
    case StandinClass::single_class:
      return "single";
    case StandinClass::int8_class:
      return "int8";
    case StandinClass::uint8_class:
      return "uint8";
    case StandinClass::int16_class:
      return "int16";
    case StandinClass::uint16_class:
      return "uint16";
    case StandinClass::int32_class:
      return "int32";
    case StandinClass::uint32_class:
      return "uint32";
    case StandinClass::int64_class:
      return "int64";
    case StandinClass::uint64_class:
      return "uint64";
    case StandinClass::logical_class:
      return "logical";
    case StandinClass::char_class:
      return "char";
    case StandinClass::cell_class:
      return "cell";
    case StandinClass::struct_class:
      return "struct";
  }
  return "unknown";
}

mxArray *standin_create_array(StandinClass array_class,
                              const std::vector<size_t> &dims,
                              mxComplexity complexity) {
  return new_array(array_class, dims, complexity, SIZE_MAX);
}

mxArray *standin_create_doubles(const std::vector<size_t> &dims,
                                const std::vector<double> &values) {
  mxArray *array = standin_create_array(StandinClass::double_class, dims);
  if (values.size() != array->element_count) {
    standin_destroy_array(array);
    standin_misuse("value count differs from the element count of the dims");
  }
  if (!values.empty()) {
    std::memcpy(array->real, values.data(), values.size() * sizeof(double));
  }
  return array;
}

mxArray *standin_create_huge_array(StandinClass array_class,
                                   const std::vector<size_t> &dims,
                                   size_t stored_elements) {
  return new_array(array_class, dims, mxREAL, stored_elements);
}

mxArray *standin_create_sparse(size_t m, size_t n, size_t nzmax,
                               mxComplexity complexity) {
  mxArray *array = new_array(StandinClass::double_class, {m, n}, complexity, 0);
  array->is_sparse = true;
  array->stored_elements = nzmax;
  array->real = allocate_zeroed(nzmax, sizeof(double));
  array->imag =
      array->is_complex ? allocate_zeroed(nzmax, sizeof(double)) : nullptr;
  array->row_indices =
      static_cast<size_t *>(allocate_zeroed(nzmax, sizeof(size_t)));
  array->column_starts =
      static_cast<size_t *>(allocate_zeroed(n + 1, sizeof(size_t)));
  return array;
}

void standin_destroy_array(mxArray *array) {
  if (array == nullptr) {
    return;
  }
  checked(array);
  std::free(array->real);
  std::free(array->imag);
  std::free(array->row_indices);
  std::free(array->column_starts);
  array->magic = 0;
  delete array;
}

StandinClass standin_array_class(const mxArray *array) {
  return checked(array)->array_class;
}

std::vector<size_t> standin_dims(const mxArray *array) {
  return checked(array)->dims;
}

bool standin_is_complex(const mxArray *array) {
  return checked(array)->is_complex;
}

size_t standin_stored_elements(const mxArray *array) {
  return checked(array)->stored_elements;
}

void *standin_real_data(const mxArray *array) { return checked(array)->real; }

void *standin_imag_data(const mxArray *array) { return checked(array)->imag; }

std::vector<double> standin_double_values(const mxArray *array) {
  checked(array);
  if (array->array_class != StandinClass::double_class) {
    standin_misuse("standin_double_values of a non-double array");
  }
  const double *data = static_cast<const double *>(array->real);
  return std::vector<double>(data, data + array->stored_elements);
}

// ---- The module side (declared in mex.h) -----------------------------------

size_t mxGetM(const mxArray *array) { return queried(array)->dims[0]; }

size_t mxGetN(const mxArray *array) { return columns_of(queried(array)); }

size_t mxGetNumberOfElements(const mxArray *array) {
  return queried(array)->element_count;
}

double *mxGetPr(const mxArray *array) {
  return static_cast<double *>(queried(array)->real);
}

bool mxIsDouble(const mxArray *array) {
  return queried(array)->array_class == StandinClass::double_class;
}

bool mxIsSparse(const mxArray *array) { return queried(array)->is_sparse; }

bool mxIsComplex(const mxArray *array) { return queried(array)->is_complex; }

mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag) {
  StandinCallRecord *call = standin_current_call();
  if (call != nullptr) {
    ++call->host_queries;
  }
  if (m < 0 || n < 0) {
    standin_misuse("mxCreateDoubleMatrix_700 with a negative size");
  }
  mxArray *array = new_array(StandinClass::double_class,
                             {static_cast<size_t>(m), static_cast<size_t>(n)},
                             flag, SIZE_MAX);
  if (call != nullptr) {
    call->created.push_back(array);
  }
  return array;
}

void mexErrMsgTxt(const char *message) {
  if (standin_current_call() == nullptr) {
    standin_misuse("mexErrMsgTxt outside a module call");
  }
  throw StandinHostError{message == nullptr ? std::string() : message};
}
