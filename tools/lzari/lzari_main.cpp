// lzari pack IN OUT | lzari unpack IN OUT
// Packs a file into the stored form the program carries in its resources
// (4-byte little-endian length, then the LZARI stream), or back.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/lzari.h"

namespace {

bool ReadFile(const char* path, std::vector<uint8_t>& data) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  data.clear();
  uint8_t block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) data.insert(data.end(), block, block + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteFile(const char* path, const std::vector<uint8_t>& data) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::remove(path);
  return ok;
}

int Usage() {
  std::fprintf(stderr, "usage: lzari pack IN OUT\n       lzari unpack IN OUT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Usage();
  bool pack = std::strcmp(argv[1], "pack") == 0;
  if (!pack && std::strcmp(argv[1], "unpack") != 0) return Usage();
  std::vector<uint8_t> in;
  if (!ReadFile(argv[2], in)) {
    std::fprintf(stderr, "lzari: cannot read %s\n", argv[2]);
    return 1;
  }
  std::vector<uint8_t> out;
  if (pack) {
    if (in.size() > kLzariMaxDecodedSize) {
      std::fprintf(stderr, "lzari: %s is larger than 256 MiB\n", argv[2]);
      return 1;
    }
    out = LzariPack(in.data(), in.size());
  } else {
    LzariStatus status = LzariUnpack(in.data(), in.size(), out);
    // An empty file packs to a zero length; the program refuses to extract
    // one, but the tool gives back what it was given.
    if (status != LzariStatus::kOk && status != LzariStatus::kEmpty) {
      std::fprintf(stderr, "lzari: %s: %s\n", argv[2], LzariStatusText(status));
      return 1;
    }
  }
  if (!WriteFile(argv[3], out)) {
    std::fprintf(stderr, "lzari: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
