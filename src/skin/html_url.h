#pragma once

#include <string>

// Whether a page's request for a new window may be handed to the user's
// browser: only http and https addresses, so that a page cannot make the
// program open local files or programs through the shell.
bool IsWebAddress(const std::wstring& url);
