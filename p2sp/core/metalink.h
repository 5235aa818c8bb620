#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace p2sp {

// What the engine takes from a Metalink 4 document (one <file>): the size, the
// SHA-256 of the whole file and of each piece, and mirror URLs.
struct Manifest {
  std::string name;
  uint64_t size = 0;
  std::string sha256;               // lower-case hex of the whole file
  uint64_t pieceLength = 0;         // a power of two
  std::vector<std::string> pieces;  // lower-case hex, one per piece in order
  std::vector<std::string> urls;

  uint64_t PieceCount() const { return pieceLength ? (size + pieceLength - 1) / pieceLength : 0; }
  uint64_t PieceBegin(uint64_t i) const { return i * pieceLength; }
  uint64_t PieceEnd(uint64_t i) const {
    uint64_t e = (i + 1) * pieceLength;
    return e < size ? e : size;
  }
};

// Parses with expat. False, with a reason, when the text is not well-formed
// XML, not a Metalink 4 document, or lacks what the engine needs: a size, a
// whole-file "sha-256" hash, and "sha-256" pieces of a power-of-two length
// whose count fits the size.
bool ParseMetalink(const std::string& text, Manifest* out, std::string* why);
// The document `gamecfg make` writes.
std::string WriteMetalink(const Manifest& manifest);

constexpr uint64_t kDefaultPieceLength = 4u << 20;

}  // namespace p2sp
