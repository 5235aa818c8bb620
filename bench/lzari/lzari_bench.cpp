// Decoding speed of our LZARI against zlib's inflate on the same file, both
// in-process, best of several rounds. lzari_bench FILE [ROUNDS]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/lzari.h"

namespace {

double BestSeconds(int rounds, const auto& work) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: lzari_bench FILE [ROUNDS]\n");
    return 2;
  }
  int rounds = argc > 2 ? std::atoi(argv[2]) : 20;
  FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 1;
  std::vector<uint8_t> data;
  int c;
  while ((c = std::fgetc(f)) != EOF) data.push_back(static_cast<uint8_t>(c));
  std::fclose(f);

  std::vector<uint8_t> packed = LzariPack(data.data(), data.size());
  uLongf deflatedSize = compressBound(data.size());
  std::vector<uint8_t> deflated(deflatedSize);
  if (compress2(deflated.data(), &deflatedSize, data.data(), data.size(), 9) != Z_OK) return 1;
  deflated.resize(deflatedSize);

  std::vector<uint8_t> out;
  bool ok = true;
  double ours =
      BestSeconds(rounds, [&] { ok = ok && LzariUnpack(packed.data(), packed.size(), out) == LzariStatus::kOk; });
  ok = ok && out == data;
  std::vector<uint8_t> inflated(data.size());
  double zlib = BestSeconds(rounds, [&] {
    uLongf n = inflated.size();
    ok = ok && uncompress(inflated.data(), &n, deflated.data(), deflated.size()) == Z_OK && n == data.size();
  });
  double encode = BestSeconds(std::max(1, rounds / 5), [&] { packed = LzariPack(data.data(), data.size()); });
  if (!ok) {
    std::fprintf(stderr, "round trip failed\n");
    return 1;
  }
  std::printf("%s: %zu bytes; lzari %zu (%.1f%%), zlib -9 %zu (%.1f%%)\n", argv[1], data.size(), packed.size(),
              100.0 * packed.size() / data.size(), deflated.size(), 100.0 * deflated.size() / data.size());
  std::printf("  decode in-process: lzari %.3f ms, inflate %.3f ms, ratio %.1fx; lzari encode %.1f ms\n", ours * 1e3,
              zlib * 1e3, ours / zlib, encode * 1e3);
  return 0;
}
