// Replays saved fuzz inputs through a fuzz target without libFuzzer, so the
// seed corpus and the inputs of past findings run in the ordinary test suite
// with any compiler. Arguments are files or folders (every regular file in a
// folder, in name order). A failed check aborts with its message; the run
// fails too when no input was found at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Defined by the targets that prepare something before the first input.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
    __attribute__((weak));

namespace {

std::vector<std::filesystem::path> inputs_of(
    const std::filesystem::path &path) {
  std::vector<std::filesystem::path> inputs;
  if (std::filesystem::is_directory(path)) {
    for (const auto &entry : std::filesystem::directory_iterator(path)) {
      if (entry.is_regular_file()) {
        inputs.push_back(entry.path());
      }
    }
    std::sort(inputs.begin(), inputs.end());
  } else if (std::filesystem::is_regular_file(path)) {
    inputs.push_back(path);
  }
  return inputs;
}

}  // namespace

int main(int argc, char **argv) {
  if (LLVMFuzzerInitialize != nullptr) {
    LLVMFuzzerInitialize(&argc, &argv);
  }
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const std::filesystem::path &input : inputs_of(argv[i])) {
      std::ifstream file(input, std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
      std::fprintf(stderr, "replaying %s\n", input.string().c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()),
                             bytes.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
