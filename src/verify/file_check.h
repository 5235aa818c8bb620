#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "contract/engine_contract.h"
#include "verify/md5.h"

// A large file is judged by its last 50 MiB only, so that checking an
// installer of several gigabytes stays quick.
constexpr uint64_t kMd5TailLimit = engine_contract::kMd5TailBytes;

// Blocks of this size keep the data in cache between the read and the digest.
constexpr size_t kMd5ReadBlock = 1 << 20;

// An open file, as the check reads it.
class IReadableFile {
 public:
  virtual ~IReadableFile() = default;
  // Moves to `offset` bytes from the beginning.
  virtual bool Seek(uint64_t offset) = 0;
  // Reads up to `length` bytes into `buffer`; *got = 0 at the end of the file.
  virtual bool Read(void* buffer, size_t length, size_t* got) = 0;
};

// Digest of the bytes [begin, end) of a file, read from `begin` on in blocks
// of kMd5ReadBlock. Fails when a read fails or the file ends before `end`; an
// empty range is the digest of nothing.
bool Md5OfRange(IReadableFile& file, uint64_t begin, uint64_t end, Md5Digest* digest);

// Digest of a file of `size` bytes: the whole file up to kMd5TailLimit bytes,
// otherwise its last kMd5TailLimit bytes. An empty file, or one that cannot be
// read to the end of that range, fails and leaves the zero digest, so it
// matches no real MD5 text.
bool Md5OfFileTail(IReadableFile& file, uint64_t size, Md5Digest* digest);

// The configuration's text must be exactly the 32 lower-case digits.
bool Md5TextMatches(const Md5Digest& digest, const std::wstring& expected);

// A finished file has the listed size; a listed size of 0 never counts.
bool IsCompleteSize(uint64_t fileSize, uint64_t expectedSize);
