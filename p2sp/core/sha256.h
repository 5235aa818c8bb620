#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace p2sp {

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 from the system's library: CNG on Windows, libcrypto elsewhere.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t size);
  // The digest of everything given since construction or the last Final; the
  // object is ready for a new message afterwards. False when the library failed.
  bool Final(Sha256Digest* digest);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Lower-case hex, 64 digits.
std::string Sha256Text(const Sha256Digest& digest);
// True when `text` is 64 hex digits in either case; it is then made lower-case.
bool NormalizeSha256Text(std::string* text);
bool Sha256Of(const void* data, size_t size, Sha256Digest* digest);

}  // namespace p2sp
