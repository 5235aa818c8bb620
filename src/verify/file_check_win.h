#pragma once

// The check of a finished game file on disk.
#include <cstdint>
#include <string>

#include "verify/md5.h"

// Digest of the file by the tail rule of Md5OfFileTail. A missing, empty or
// unreadable file fails with the zero digest.
bool ComputeFileMd5(const std::wstring& path, Md5Digest* digest);

// True when the file's digest text equals `expected` exactly (case matters).
// A missing or empty file is judged by the zero digest's text.
bool VerifyFileMd5(const std::wstring& path, const std::wstring& expected);

// Size of the file as the check sees it: 0 when it cannot be opened.
uint64_t FileSizeForCheck(const std::wstring& path);

// The file exists and has the entry's size, which must not be 0.
bool IsFileComplete(const std::wstring& path, uint64_t expectedSize);
