#pragma once

#include <cstdint>
#include <string>

// The game key from the program file's own version record; empty when the
// record, its translation list or its FileDescription cannot be read.
std::wstring ReadOwnGameKey();

// The fixed file version of the program file.
bool ReadOwnFileVersion(uint32_t* versionMs, uint32_t* versionLs);

// The download server's base address stored in the program.
std::wstring DownloadServerBase();
