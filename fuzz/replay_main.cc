// Runs a fuzz target's entry point once on every file of a corpus folder, as CTest does: no
// fuzzing, just the seeds (and any findings saved beside them) replayed. A target that aborts
// fails the run; an empty or missing folder fails it too.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " CORPUS_FOLDER\n";
    return 2;
  }
  std::error_code error;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1], error)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    (void)LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
  }
  if (error || replayed == 0) {
    std::cerr << "no corpus files in " << argv[1] << "\n";
    return 1;
  }
  std::cout << replayed << " inputs replayed from " << argv[1] << "\n";
  return 0;
}
