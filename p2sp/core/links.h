#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contract/engine_contract.h"

namespace p2sp {

// The task link and its reading are the program's and the engine's contract.
using engine_contract::ParseTaskLink;
using engine_contract::TaskLink;
using engine_contract::UrlEncode;

// The seed service's answer: one alternative URL per line; anything that is not
// an http(s) URL is skipped.
std::vector<std::string> ParseSeedAnswer(const std::string& body, size_t maxSources);
// <seed>?h1=..&name=..&size=.. (or &h1=.. when the seed URL has a query already).
std::string SeedQueryUrl(const std::string& seedUrl, const std::string& h1, const std::string& name, uint64_t size);
// The last path segment of a URL, without query or fragment.
std::string FileNameOfUrl(const std::string& url);
// The host part of a URL, lower-case, without user, port or brackets.
std::string HostOfUrl(const std::string& url);

}  // namespace p2sp
