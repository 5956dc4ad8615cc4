// Runs a fuzz target once over each file of a seed corpus folder (builds without libFuzzer).
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argc > 1 ? argv[1] : ".")) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    count += LLVMFuzzerTestOneInput(bytes.data(), bytes.size()) == 0;
  }
  return count > 0 ? 0 : 1;  // an empty folder is a broken test
}
