#pragma once

#include <cstdint>
#include <string>

#include "state/resume_state.h"

// The files the completion checks look at: those of resume detection, and
// the size of a file.
class IDownloadFiles : public IResumeFiles {
 public:
  // 0 when the file cannot be opened.
  virtual uint64_t FileSize(const std::wstring& path) = 0;

 protected:
  ~IDownloadFiles() = default;
};
