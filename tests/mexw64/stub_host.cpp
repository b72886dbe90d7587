// A minimal Windows host for the .mexw64 modules: a DLL that provides the
// matrix and MEX operations the gateways import (declared in the stand-in's
// mex.h), enough to load a module and call it once under wine. Arrays are
// real double matrices; nothing is freed (each call runs in its own process).
#include <cstdio>
#include <cstdlib>

#include "mex.h"

struct mxArray_tag {
  size_t rows;
  size_t columns;
  double *data;  // null when the array has no elements
};

namespace {

const mxArray *checked(const mxArray *array) {
  if (array == nullptr) {
    std::fprintf(stderr, "stub host: null array handle\n");
    std::abort();
  }
  return array;
}

}  // namespace

size_t mxGetM(const mxArray *array) { return checked(array)->rows; }

size_t mxGetN(const mxArray *array) { return checked(array)->columns; }

size_t mxGetNumberOfElements(const mxArray *array) {
  return checked(array)->rows * checked(array)->columns;
}

double *mxGetPr(const mxArray *array) { return checked(array)->data; }

// Every array of this host is a full double matrix.
bool mxIsDouble(const mxArray *array) {
  checked(array);
  return true;
}

bool mxIsSparse(const mxArray *array) {
  checked(array);
  return false;
}

bool mxIsComplex(const mxArray *array) {
  checked(array);
  return false;
}

mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag) {
  if (m < 0 || n < 0 || flag != mxREAL) {
    std::fprintf(stderr, "stub host: negative size or complex matrix\n");
    std::abort();
  }
  mxArray *array = static_cast<mxArray *>(std::calloc(1, sizeof(mxArray)));
  if (array == nullptr) {
    std::abort();
  }
  array->rows = static_cast<size_t>(m);
  array->columns = static_cast<size_t>(n);
  if (m > 0 && n > 0) {
    array->data = static_cast<double *>(
        std::calloc(array->rows * array->columns, sizeof(double)));
    if (array->data == nullptr) {
      std::abort();
    }
  }
  return array;
}

// The host's error call ends the module call; here it ends the process with
// status 1 after printing the message, which the calling test checks.
void mexErrMsgTxt(const char *message) {
  std::printf("error: %s\n", message);
  std::fflush(stdout);
  std::exit(1);
}
