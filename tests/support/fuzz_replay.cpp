// Runs a fuzz target's entry point over every file of the corpus folders given as arguments, so
// that the normal build and ctest replay what fuzzing found without libFuzzer. A fault the target
// detects traps and fails the run; the file being replayed is printed first.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(argv[i], ec))
      if (entry.is_regular_file()) files.push_back(entry.path());
    if (ec || files.empty()) {
      std::fprintf(stderr, "no corpus files in %s\n", argv[i]);
      return 1;
    }
    for (const fs::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
      std::fprintf(stderr, "%s\n", file.c_str());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
