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

bool NormalizeSha256Text(std::string* text) {
  if (text->size() != 64) return false;
  for (char& c : *text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool Sha256Of(const void* data, size_t size, Sha256Digest* digest) {
  Sha256 hash;
  hash.Update(data, size);
  return hash.Final(digest);
}

}  // namespace p2sp
