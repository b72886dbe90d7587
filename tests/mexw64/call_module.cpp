// Loads a .mexw64 module with LoadLibrary and calls its mexFunction once, as
// the host does, on arguments given as matrices in the host language's
// notation ("[4;8]", "[10 13]", "4"; rows separated by ';'). Prints the
// result's elements column by column with 17 significant digits, or the
// module's error message (the stub host's mexErrMsgTxt exits with status 1).
//
// usage: call_module <module> <argument>...
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mex.h"

namespace {

using MexEntry = void (*)(int, mxArray *[], int, const mxArray *[]);

// Rows of numbers separated by ';', numbers by blanks or ','; brackets
// optional. Exits with status 2 on text that is not such a matrix.
mxArray *parse_matrix(const std::string &text) {
  std::vector<std::vector<double>> rows(1);
  const char *at = text.c_str();
  while (*at != '\0') {
    char c = *at;
    if (c == '[' || c == ']' || c == ' ' || c == ',') {
      ++at;
    } else if (c == ';') {
      rows.emplace_back();
      ++at;
    } else {
      char *end = nullptr;
      double value = std::strtod(at, &end);
      if (end == at) {
        std::fprintf(stderr, "call_module: not a matrix: %s\n", text.c_str());
        std::exit(2);
      }
      rows.back().push_back(value);
      at = end;
    }
  }
  size_t columns = rows[0].size();
  for (const std::vector<double> &row : rows) {
    if (row.size() != columns) {
      std::fprintf(stderr, "call_module: ragged matrix: %s\n", text.c_str());
      std::exit(2);
    }
  }
  int m = columns == 0 ? 0 : static_cast<int>(rows.size());
  mxArray *array =
      mxCreateDoubleMatrix_700(m, static_cast<int>(columns), mxREAL);
  double *data = mxGetPr(array);
  for (size_t i = 0; i < static_cast<size_t>(m); ++i) {
    for (size_t j = 0; j < columns; ++j) {
      data[i + static_cast<size_t>(m) * j] = rows[i][j];
    }
  }
  return array;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: call_module <module> <argument>...\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) {
    std::fprintf(stderr, "call_module: cannot load %s (error %lu)\n", argv[1],
                 GetLastError());
    return 2;
  }
  MexEntry entry = reinterpret_cast<MexEntry>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "mexFunction")));
  if (entry == nullptr) {
    std::fprintf(stderr, "call_module: %s has no mexFunction\n", argv[1]);
    return 2;
  }
  std::vector<const mxArray *> args;
  for (int i = 2; i < argc; ++i) {
    args.push_back(parse_matrix(argv[i]));
  }
  mxArray *result = nullptr;
  entry(1, &result, static_cast<int>(args.size()), args.data());
  if (result == nullptr) {
    std::fprintf(stderr, "call_module: no result\n");
    return 2;
  }
  size_t count = mxGetNumberOfElements(result);
  const double *data = mxGetPr(result);
  for (size_t k = 0; k < count; ++k) {
    std::printf(k == 0 ? "%.17g" : " %.17g", data[k]);
  }
  std::printf("\n");
  return 0;
}
