#pragma once

// The publisher's configuration tool: make, check, md5 and verify. The
// commands are portable; the host gives them files and output streams.
#include <cstdint>
#include <string>
#include <vector>

#include "verify/md5.h"

// Paths and texts are UTF-8.
class IGamecfgHost {
 public:
  virtual ~IGamecfgHost() = default;
  virtual bool ReadWholeFile(const std::string& path, std::string* bytes) = 0;
  // `size` bytes at `offset` (fewer only at the end of the file).
  virtual bool ReadFileAt(const std::string& path, uint64_t offset, size_t size, std::string* bytes) = 0;
  // Replaces `path` only once all bytes are written.
  virtual bool WriteWholeFile(const std::string& path, const std::string& bytes) = 0;
  // False when nothing is there. `size` is what the program's size check reads.
  virtual bool StatFile(const std::string& path, bool* isRegularFile, uint64_t* size) = 0;
  // The program's digest by the tail rule; false with the zero digest when the
  // file is missing, empty or unreadable.
  virtual bool FileMd5(const std::string& path, Md5Digest* digest) = 0;
  virtual std::string BaseName(const std::string& path) = 0;
  virtual std::string JoinPath(const std::string& dir, const std::string& name) = 0;
  virtual void Out(const std::string& bytes) = 0;
  virtual void Err(const std::string& text) = 0;
};

// Exit status: 0 success, 1 the program would refuse (check, verify) or a
// file could not be digested (md5), 2 bad arguments or unusable input.
int RunGamecfg(const std::vector<std::string>& args, IGamecfgHost& host);
