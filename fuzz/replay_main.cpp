// Replays saved fuzz inputs through a fuzz target without libFuzzer: every
// argument is a file or a directory of files, each fed to the target once.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replay_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) {
          failures += replay_file(entry.path());
          ++count;
        }
      }
    } else {
      failures += replay_file(arg);
      ++count;
    }
  }
  std::printf("replayed %d inputs\n", count);
  // An empty or vanished corpus replays nothing: that is a failure, not a pass.
  if (count == 0) std::fprintf(stderr, "no inputs to replay\n");
  return failures == 0 && count > 0 ? 0 : 1;
}
