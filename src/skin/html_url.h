#pragma once

#include <string>

// Whether an address may be handed to the shell at all: only http and https
// addresses, so that a page, a label's link or a value from the server cannot
// make the program open local files or start programs. Every place that
// opens a page goes through this one check.
bool IsWebAddress(const std::wstring& url);

// The address opened for a page the configuration names (promotion link,
// newer downloader) or a link inside a label text: the value itself when
// IsWebAddress accepts it; "http://" + value when the value starts with a
// host name (letters, digits, dots and hyphens, then "/" or the end), as
// publishers often write "www.example.com/..."; otherwise empty.
std::wstring ShellWebAddress(const std::wstring& value);
