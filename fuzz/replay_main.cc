// Replays a fuzz target's inputs through its own checks without libFuzzer:
// the Windows build runs every target this way, under the C run-time the
// tool ships with (its formatting, its wide output), where the native
// fuzzers cannot look. Each argument is an input file or a folder of them;
// a broken invariant aborts, and the run fails.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
#ifdef K27_FUZZ_INITIALIZE
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
#endif

namespace fs = std::filesystem;

int main(int argc, char** argv) {
#ifdef K27_FUZZ_INITIALIZE
  LLVMFuzzerInitialize(&argc, &argv);
#endif
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path given(argv[i]);
    if (fs::is_directory(given)) {
      std::vector<fs::path> found;
      for (const fs::directory_entry& entry : fs::directory_iterator(given)) {
        if (!entry.is_directory()) found.push_back(entry.path());
      }
      std::sort(found.begin(), found.end());
      inputs.insert(inputs.end(), found.begin(), found.end());
    } else {
      inputs.push_back(given);
    }
  }
  // No input at all is a mistake in the command, not a pass.
  if (inputs.empty()) {
    fprintf(stderr, "replay: no inputs\n");
    return 2;
  }
  for (const fs::path& path : inputs) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
      return 2;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Exactly the input's size, as libFuzzer hands it over.
    std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), data.get());
    fprintf(stderr, "replay: %s (%zu bytes)\n", path.filename().string().c_str(), bytes.size());
    LLVMFuzzerTestOneInput(data.get(), bytes.size());
  }
  fprintf(stderr, "replay: %zu inputs, every check held\n", inputs.size());
  return 0;
}
