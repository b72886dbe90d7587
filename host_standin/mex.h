// Stand-in for the host's MEX interface: the operations the module gateways
// call, declared as a host running in its 32-bit-dimension compatibility mode
// declares them. Modules built against this header import exactly these
// symbols; standin_arrays.cpp and standin_loader.cpp define them.
#ifndef HOST_STANDIN_MEX_H
#define HOST_STANDIN_MEX_H

#include <cstddef>

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

extern "C" {
size_t mxGetM(const mxArray *array);
size_t mxGetN(const mxArray *array);  // product of all but the first dim
size_t mxGetNumberOfElements(const mxArray *array);
double *mxGetPr(const mxArray *array);  // real part; null when empty
bool mxIsDouble(const mxArray *array);
bool mxIsSparse(const mxArray *array);
bool mxIsComplex(const mxArray *array);
mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
// Raises a host error and ends the call: never returns to the caller.
[[noreturn]] void mexErrMsgTxt(const char *message);

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);
}

#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700

#endif  // HOST_STANDIN_MEX_H
