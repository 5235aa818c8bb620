#pragma once

#include <cstdint>
#include <string>

// The game key is at most this many characters: a braced GUID.
constexpr size_t kGameKeyMaxChars = 38;

// Cuts a FileDescription value to the game key's length.
std::wstring GameKeyFromDescription(const std::wstring& description);

// "\StringFileInfo\llllcccc\FileDescription" for the first translation pair.
std::wstring DescriptionQueryPath(uint16_t language, uint16_t codePage);
