#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// LZARI: LZSS over a 4096-byte ring (first 4036 bytes spaces, matches of 3 to
// 60 bytes) whose literals, match lengths and positions go through an
// adaptive arithmetic coder of 15-bit precision. The stored form is a 4-byte
// little-endian decoded length followed by the bit stream.

constexpr size_t kLzariHeaderSize = 4;
// Larger declared lengths are refused outright, as are lengths that the
// stream could not hold even at the format's best compression.
constexpr uint32_t kLzariMaxDecodedSize = 256u * 1024 * 1024;
constexpr uint64_t kLzariMaxRatio = 64;
constexpr uint64_t kLzariRatioSlack = 64;

enum class LzariStatus {
  kOk,
  kNoHeader,     // fewer than 4 bytes
  kEmpty,        // declared length 0
  kTooLarge,     // declared length above kLzariMaxDecodedSize
  kImplausible,  // declared length beyond what the stream can hold
  kTruncated,    // the stream ran out before the declared length was reached
};

const char* LzariStatusText(LzariStatus status);

// Encodes data as a bare bit stream (no header).
std::vector<uint8_t> LzariEncode(const uint8_t* data, size_t size);

// Decodes a bare bit stream into exactly decodedSize bytes. A last match that
// runs past decodedSize is cut there. Never reads or writes out of bounds,
// whatever the input.
LzariStatus LzariDecode(const uint8_t* stream, size_t streamSize, size_t decodedSize, std::vector<uint8_t>& out);

// The stored form: header and stream.
std::vector<uint8_t> LzariPack(const uint8_t* data, size_t size);
// Checks the header against the limits above, then decodes. On any status
// but kOk, out is left empty.
LzariStatus LzariUnpack(const uint8_t* packed, size_t packedSize, std::vector<uint8_t>& out);
