#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Md5Digest = std::array<uint8_t, 16>;

// Message digest of RFC 1321, fed in pieces of any length.
class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t length);
  // Pads, returns the digest and leaves the object ready for a new message.
  Md5Digest Final();

 private:
  void Reset();
  void Blocks(const uint8_t* data, size_t count);

  uint32_t m_state[4];
  uint64_t m_length = 0;
  uint8_t m_pending[64];
  size_t m_pendingSize = 0;
};

Md5Digest Md5Of(const void* data, size_t length);

// 32 lower-case hexadecimal digits, the form the configuration lists.
std::string FormatMd5Text(const Md5Digest& digest);
