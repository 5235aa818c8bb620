#include "verify/file_check.h"

#include <algorithm>
#include <vector>

bool Md5OfRange(IReadableFile& file, uint64_t begin, uint64_t end, Md5Digest* digest) {
  digest->fill(0);
  uint64_t left = end > begin ? end - begin : 0;
  if (begin > 0 && !file.Seek(begin)) return false;

  std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(left, kMd5ReadBlock)));
  Md5 md5;
  while (left > 0) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    size_t got = 0;
    // A file cut short while being read must not pass as the digest of
    // fewer bytes.
    if (!file.Read(block.data(), want, &got) || got == 0 || got > want) return false;
    md5.Update(block.data(), got);
    left -= got;
  }
  *digest = md5.Final();
  return true;
}

bool Md5OfFileTail(IReadableFile& file, uint64_t size, Md5Digest* digest) {
  digest->fill(0);
  return size != 0 && Md5OfRange(file, engine_contract::Md5RangeStart(size), size, digest);
}

bool Md5TextMatches(const Md5Digest& digest, const std::wstring& expected) {
  const std::string text = FormatMd5Text(digest);
  return expected.size() == text.size() && std::equal(text.begin(), text.end(), expected.begin(),
                                                      [](char a, wchar_t b) { return static_cast<wchar_t>(a) == b; });
}

bool IsCompleteSize(uint64_t fileSize, uint64_t expectedSize) { return expectedSize != 0 && fileSize == expectedSize; }
