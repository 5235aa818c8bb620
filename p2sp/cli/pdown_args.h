// The command line of both pdown front ends: the native one reads char
// arguments, the Windows one wchar_t arguments; both accept the same words.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace p2sp {

constexpr const char* kPdownUsage =
    "usage: pdown [--seed URL] [--connections N] [--stall-timeout S] [--retries N] [--quiet]\n"
    "             [--max-speed BYTES] [--no-share] [--upload-cap BYTES] [--peers-served N] [--share-on IPV4] [--linger S]\n"
    "             [--discard-old-target] LINK TARGET\n"
    "BYTES is a count of bytes a second: 524288, 512K, 4M, 1.5M, 1G (K = 1024, M = 1048576,\n"
    "G = 1073741824; any case; a trailing B or /s is allowed), 0 for no cap, below 2G.\n";

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
  int32_t uploadCap = -1;  // --upload-cap BYTES per second, 0 no cap; -1: the engine's default
  int32_t maxSpeed = 0;    // --max-speed BYTES per second over all sources; 0 no cap
  int peersServed = 0;   // --peers-served N (1..16); 0: the engine's default
  std::basic_string<Char> shareOn;  // --share-on IPv4: serve and announce only there
  int lingerSeconds = 0;  // --linger S: keep serving that long after the file is in
  // --discard-old-target: a file already at TARGET goes once read for pieces
  // (or at once without a manifest) instead of staying until replaced.
  bool discardOldTarget = false;
  // When refused for an option's value: the option, and the value unless it was missing.
  const char* badOption = nullptr;
  std::basic_string<Char> badValue;
  bool valueMissing = false;
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

// A byte count: digits, then an optional K, M or G (binary multiples, any case),
// "i", "B" and "/s", so that 512K, 4MB, 2MiB/s and 1.5g all read. A fraction only
// with a multiple, cut to whole bytes; 0..max.
template <typename Char>
bool ParseBytes(const Char* text, int32_t* out, uint64_t max = std::numeric_limits<int32_t>::max()) {
  if (!text) return false;
  const uint64_t kLimit = std::numeric_limits<uint64_t>::max();
  uint64_t whole = 0;
  int digits = 0;
  for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
    const unsigned d = static_cast<unsigned>(*text - '0');
    if (whole > (kLimit - d) / 10) return false;
    whole = whole * 10 + d;
  }
  // Fraction digits past the ninth move the result by a byte at most.
  uint64_t fraction = 0, scale = 1;
  const bool point = *text == '.';
  if (point) {
    for (++text; *text >= '0' && *text <= '9'; ++text, ++digits) {
      if (scale < 1000000000) {
        fraction = fraction * 10 + static_cast<unsigned>(*text - '0');
        scale *= 10;
      }
    }
  }
  if (digits == 0) return false;
  uint64_t multiple = 1;
  switch (*text) {
    case 'k': case 'K': multiple = uint64_t(1) << 10; break;
    case 'm': case 'M': multiple = uint64_t(1) << 20; break;
    case 'g': case 'G': multiple = uint64_t(1) << 30; break;
    default: break;
  }
  if (multiple > 1) {
    ++text;
    if (*text == 'i' || *text == 'I') {
      ++text;
      if (*text != 'b' && *text != 'B') return false;
    }
  } else if (point) {
    return false;  // no part of a byte
  }
  if (*text == 'b' || *text == 'B') ++text;
  if (text[0] == '/' && (text[1] == 's' || text[1] == 'S')) text += 2;
  if (*text) return false;
  if (whole > kLimit / multiple) return false;
  const uint64_t value = whole * multiple + fraction * multiple / scale;  // a wrap shows as a smaller sum
  if (value < whole * multiple || value > max) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

}  // namespace detail

// False on anything it does not know, a bad number, or a missing LINK or TARGET.
// A lone "-" is a name, not an option.
template <typename Char>
bool ParsePdownArgs(int argc, Char** argv, PdownArgs<Char>* out) {
  // An option whose value is missing or bad: say which, for the message.
  auto bad = [out](const char* option, const Char* value) {
    out->badOption = option;
    out->valueMissing = !value;
    if (value) out->badValue = value;
    return false;
  };
  for (int i = 1; i < argc; ++i) {
    const Char* a = argv[i];
    const Char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (detail::Is(a, "--seed")) {
      if (!next) return bad("--seed", next);
      out->seed = next;
      ++i;
    } else if (detail::Is(a, "--connections")) {
      if (!detail::ParseCount(next, 1, &out->connections)) return bad("--connections", next);
      ++i;
    } else if (detail::Is(a, "--stall-timeout")) {
      if (!detail::ParseCount(next, 1, &out->stallSeconds)) return bad("--stall-timeout", next);
      ++i;
    } else if (detail::Is(a, "--retries")) {
      if (!detail::ParseCount(next, 0, &out->retries)) return bad("--retries", next);
      ++i;
    } else if (detail::Is(a, "--quiet")) {
      out->quiet = true;
    } else if (detail::Is(a, "--no-share")) {
      out->share = false;
    } else if (detail::Is(a, "--discard-old-target")) {
      out->discardOldTarget = true;
    } else if (detail::Is(a, "--max-speed")) {
      if (!detail::ParseBytes(next, &out->maxSpeed)) return bad("--max-speed", next);
      ++i;
    } else if (detail::Is(a, "--upload-cap")) {
      if (!detail::ParseBytes(next, &out->uploadCap)) return bad("--upload-cap", next);
      ++i;
    } else if (detail::Is(a, "--peers-served")) {
      if (!detail::ParseCount(next, 1, &out->peersServed) || out->peersServed > 16) return bad("--peers-served", next);
      ++i;
    } else if (detail::Is(a, "--share-on")) {
      if (!next || !*next) return bad("--share-on", next);
      out->shareOn = next;
      ++i;
    } else if (detail::Is(a, "--linger")) {
      if (!detail::ParseCount(next, 0, &out->lingerSeconds)) return bad("--linger", next);
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
