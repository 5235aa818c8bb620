#include "sha256.h"

namespace p2sp {

std::string Sha256Text(const Sha256Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

bool Sha256Of(const void* data, size_t size, Sha256Digest* digest) {
  Sha256 hash;
  hash.Update(data, size);
  return hash.Final(digest);
}

}  // namespace p2sp
