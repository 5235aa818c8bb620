// The command line of both pdown front ends: the native one reads char
// arguments, the Windows one wchar_t arguments; both accept the same words.
#pragma once

#include <string>

namespace p2sp {

template <typename Char>
struct PdownArgs {
  std::basic_string<Char> seed;
  std::basic_string<Char> link;
  std::basic_string<Char> target;
  int connections = 0;  // 0: the engine's default
  int stallSeconds = 0;
  int retries = -1;  // -1: the engine's default
  bool quiet = false;
};

namespace detail {

template <typename Char>
bool Is(const Char* arg, const char* ascii) {
  for (; *ascii; ++arg, ++ascii) {
    if (*arg != static_cast<Char>(*ascii)) return false;
  }
  return *arg == 0;
}

// Decimal digits only, min..1000000.
template <typename Char>
bool ParseCount(const Char* text, int min, int* out) {
  if (!text || !*text) return false;
  long value = 0;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
    value = value * 10 + (*text - '0');
    if (value > 1000000) return false;
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
