// The command line of both pdown front ends: the native one reads char
// arguments, the Windows one wchar_t arguments; both accept the same words.
#pragma once

#include <cstdint>
#include <string>

namespace p2sp {

constexpr const char* kPdownUsage =
    "usage: pdown [--seed URL] [--connections N] [--stall-timeout S] [--retries N] [--quiet]\n"
    "             [--max-speed BYTES] [--no-share] [--upload-cap BYTES] [--peers-served N] [--share-on IPV4] [--linger S]\n"
    "             [--discard-old-target] LINK TARGET\n";

// The line pdown prints when it ends; tests and benchmarks read it.
inline std::string PdownSummary(uint64_t done, uint64_t fromPeers, uint64_t served) {
  return "pdown: " + std::to_string(done) + " bytes, " + std::to_string(fromPeers) + " from peers, " +
         std::to_string(served) + " served to peers";
}

template <typename Char>
struct PdownArgs {
  std::basic_string<Char> seed;
  std::basic_string<Char> link;
  std::basic_string<Char> target;
  int connections = 0;  // 0: the engine's default
  int stallSeconds = 0;
  int retries = -1;  // -1: the engine's default
  bool quiet = false;
  // Sharing with other players: on unless --no-share.
  bool share = true;
  int uploadCap = -1;    // --upload-cap BYTES per second, 0 no cap; -1: the engine's default
  int maxSpeed = 0;      // --max-speed BYTES per second over all sources; 0 no cap
  int peersServed = 0;   // --peers-served N (1..16); 0: the engine's default
  std::basic_string<Char> shareOn;  // --share-on IPv4: serve and announce only there
  int lingerSeconds = 0;  // --linger S: keep serving that long after the file is in
  // --discard-old-target: a file already at TARGET goes once read for pieces
  // (or at once without a manifest) instead of staying until replaced.
  bool discardOldTarget = false;
};

namespace detail {

template <typename Char>
bool Is(const Char* arg, const char* ascii) {
  for (; *ascii; ++arg, ++ascii) {
    if (*arg != static_cast<Char>(*ascii)) return false;
  }
  return *arg == 0;
}

// Decimal digits only, min..max.
template <typename Char>
bool ParseCount(const Char* text, int min, int* out, long max = 1000000) {
  if (!text || !*text) return false;
  long long value = 0;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
    value = value * 10 + (*text - '0');
    if (value > max) return false;
  }
  if (value < min) return false;
  *out = static_cast<int>(value);
  return true;
}

}  // namespace detail

// False on anything it does not know, a bad number, or a missing LINK or TARGET.
// A lone "-" is a name, not an option.
template <typename Char>
bool ParsePdownArgs(int argc, Char** argv, PdownArgs<Char>* out) {
  for (int i = 1; i < argc; ++i) {
    const Char* a = argv[i];
    const Char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (detail::Is(a, "--seed")) {
      if (!next) return false;
      out->seed = next;
      ++i;
    } else if (detail::Is(a, "--connections")) {
      if (!detail::ParseCount(next, 1, &out->connections)) return false;
      ++i;
    } else if (detail::Is(a, "--stall-timeout")) {
      if (!detail::ParseCount(next, 1, &out->stallSeconds)) return false;
      ++i;
    } else if (detail::Is(a, "--retries")) {
      if (!detail::ParseCount(next, 0, &out->retries)) return false;
      ++i;
    } else if (detail::Is(a, "--quiet")) {
      out->quiet = true;
    } else if (detail::Is(a, "--no-share")) {
      out->share = false;
    } else if (detail::Is(a, "--discard-old-target")) {
      out->discardOldTarget = true;
    } else if (detail::Is(a, "--max-speed")) {
      if (!detail::ParseCount(next, 0, &out->maxSpeed, 1000000000)) return false;
      ++i;
    } else if (detail::Is(a, "--upload-cap")) {
      if (!detail::ParseCount(next, 0, &out->uploadCap, 1000000000)) return false;
      ++i;
    } else if (detail::Is(a, "--peers-served")) {
      if (!detail::ParseCount(next, 1, &out->peersServed) || out->peersServed > 16) return false;
      ++i;
    } else if (detail::Is(a, "--share-on")) {
      if (!next || !*next) return false;
      out->shareOn = next;
      ++i;
    } else if (detail::Is(a, "--linger")) {
      if (!detail::ParseCount(next, 0, &out->lingerSeconds)) return false;
      ++i;
    } else if (a[0] == '-' && a[1] != 0) {
      return false;
    } else if (out->link.empty()) {
      out->link = a;
    } else if (out->target.empty()) {
      out->target = a;
    } else {
      return false;
    }
  }
  return !out->link.empty() && !out->target.empty();
}

}  // namespace p2sp
