// Replay driver for fuzz targets built without libFuzzer: runs every file of
// the given folders, then a fixed, seeded stream of mutations of them, and
// prints "N passed, 0 failed". A crash or a sanitizer report fails the run,
// and so does a corpus that is missing, unreadable or empty: mutations of
// nothing would pass without reaching the parser the target is for.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void Run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::string Mutate(std::string s, std::mt19937& rng) {
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    switch (rng() % 5) {
      case 0:
        if (!s.empty()) s[rng() % s.size()] = static_cast<char>(rng());
        break;
      case 1:
        s.insert(s.begin() + (s.empty() ? 0 : rng() % (s.size() + 1)), static_cast<char>(rng()));
        break;
      case 2:
        if (!s.empty()) s.erase(rng() % s.size(), 1 + rng() % 8);
        break;
      case 3:
        if (!s.empty()) s.resize(rng() % s.size());
        break;
      default:
        if (!s.empty() && s.size() < 1 << 16) s += s.substr(rng() % s.size());
        break;
    }
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
    return 2;
  }
  std::vector<std::string> seeds{""};
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::filesystem::directory_iterator entries(argv[i], ec);
    if (ec) {
      std::fprintf(stderr, "fuzz replay: cannot read the corpus %s: %s\n", argv[i],
                   ec.message().c_str());
      return 1;
    }
    size_t files = 0;
    for (const auto& entry : entries) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "fuzz replay: cannot read %s\n", entry.path().c_str());
        return 1;
      }
      seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      ++files;
    }
    if (files == 0) {
      std::fprintf(stderr, "fuzz replay: the corpus %s holds no file\n", argv[i]);
      return 1;
    }
  }
  std::mt19937 rng(20241208);
  size_t runs = 0;
  for (const auto& seed : seeds) {
    Run(seed);
    ++runs;
  }
  constexpr size_t kMutations = 20000;
  for (size_t i = 0; i < kMutations; ++i) {
    Run(Mutate(seeds[rng() % seeds.size()], rng));
    ++runs;
  }
  std::printf("fuzz replay: %zu passed, 0 failed\n", runs);
  return 0;
}
