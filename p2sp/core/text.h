#pragma once

#include <cstdint>
#include <string>

#include "contract/text.h"

namespace p2sp {

// UTF-8 <-> wide text and decimal numbers, by the shared rules.
using gd_text::ParseU64;
using gd_text::Utf8ToWide;
using gd_text::WideToUtf8;

// "12.34 MiB"-style texts and the CLI's progress line.
std::string SizeText(uint64_t bytes);
std::string ProgressLine(uint64_t done, uint64_t total, uint64_t speed);

}  // namespace p2sp
