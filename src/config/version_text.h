#pragma once

#include <cstdint>
#include <string>

// "%d.%d.%d.%d" of a fixed file version (most significant word first).
std::wstring FormatFileVersion(uint32_t versionMs, uint32_t versionLs);

// True when the downloader's own version text counts as older than the
// configured one: texts of different length always do; otherwise the first
// five characters are compared code unit by code unit.
bool IsOlderVersion(const std::wstring& configured, const std::wstring& own);
