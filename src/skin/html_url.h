#pragma once

#include <string>

// Whether an address may be handed to the shell at all: only http and https
// addresses, so that a page, a label's link or a value from the server cannot
// make the program open local files or start programs. Every place that
// opens a page goes through this one check.
bool IsWebAddress(const std::wstring& url);
