#pragma once

// What the program and its download engine agree on, in one place, compiled
// into both: the status record that QueryTask fills, the task states, the
// option numbers of SetP2spOption, the task link, and the part of a file that
// its MD5 text covers.
#include <cstddef>
#include <cstdint>
#include <string>

namespace engine_contract {

// ---- Status record ----------------------------------------------------------
// 596 bytes; the fields below are little-endian at fixed offsets, the rest is
// zero.
constexpr size_t kStatusRecordSize = 596;
constexpr size_t kTotalOffset = 8;        // uint64: file size, 0 while unknown
constexpr size_t kDoneOffset = 16;        // uint64: bytes done
constexpr size_t kLinkSpeedOffset = 60;   // uint32: bytes per second from the task's link
constexpr size_t kOtherSpeedOffset = 64;  // uint32: bytes per second from other sources
constexpr size_t kStateOffset = 69;       // uint8: a TaskState
constexpr size_t kPeerBytesOffset = 72;   // uint64: bytes of this task that came from other players
constexpr size_t kServedBytesOffset = 80; // uint64: bytes this process served to other players since Init

enum TaskState : uint8_t {
  kTaskStateRunning = 0,        // running, stopped or not finished
  kTaskStateFinished = 1,
  kTaskStateFailedDownload = 5,  // cannot complete
  kTaskStateFailedCheck = 6,     // complete, but the MD5 text (or a piece hash) does not match
};

// The record's fields, the same from the engine that fills it to the
// program that reads it.
struct TaskStatus {
  uint64_t total = 0;     // 0 while the size is unknown
  uint64_t done = 0;      // bytes downloaded so far
  uint32_t linkSpeed = 0;   // bytes per second from the task's link
  uint32_t otherSpeed = 0;  // bytes per second from other sources (mirrors, peers)
  uint8_t state = kTaskStateRunning;
  uint64_t peerBytes = 0;    // bytes of this task that came from other players
  uint64_t servedBytes = 0;  // bytes the engine served to other players since Init (any task tells it)

  uint64_t Speed() const { return static_cast<uint64_t>(linkSpeed) + otherSpeed; }
};

// Writes the fields into a record of kStatusRecordSize bytes (other bytes are
// left as they are).
void EncodeStatus(const TaskStatus& status, uint8_t* record);
TaskStatus DecodeStatus(const uint8_t* record);

// ---- Options of SetP2spOption -------------------------------------------------
// 3 is the program's; the others let the command-line front end and tests tune
// the engine.
enum Option : int {
  kOptionSeedUrl = 3,           // UTF-16LE text without terminator
  kOptionMaxConnections = 100,  // int32
  kOptionStallSeconds = 101,    // int32
  kOptionRetries = 102,         // int32
  // Sharing verified pieces with other players: process-wide, at once.
  kOptionPeerSharing = 103,     // int32: 0 neither serve nor announce, 1 both (default)
  kOptionUploadCap = 104,       // int32 bytes per second over all peers served (default 1 MiB/s)
  kOptionMaxPeersServed = 105,  // int32 1..16 peers served at once (default 4)
  // The IPv4 address to serve and announce on (UTF-16LE text); empty: every
  // interface, announces on the system's choice. Tests give 127.0.0.1; so
  // does the environment variable P2SP_SHARE_ADDRESS, read at Init.
  kOptionShareAddress = 106,
  // int32 1 while a full-screen program runs: no piece leaves until 0 again.
  kOptionServePaused = 107,
  // int32 bytes per second over every connection of every task, at once;
  // 0: no cap (the default).
  kOptionDownloadCap = 108,
  // int32 1: a file found at a task's target is an old copy its caller has
  // given up (one that failed its check, an earlier version). It is moved
  // aside (OldSideFilePath) when the task starts, read for the pieces that
  // match the manifest and then removed, or removed unread when there is no
  // manifest or no room for the new file beside it. 0 (the default): it
  // stays at the target until the new file replaces it.
  kOptionDiscardOldTarget = 109,
};

// The text options (kOptionSeedUrl, kOptionShareAddress) travel as UTF-16LE
// without terminator; the option's length is OptionTextBytes.
std::u16string EncodeOptionText(const std::wstring& text);
inline int OptionTextBytes(const std::u16string& units) { return static_cast<int>(units.size() * sizeof(char16_t)); }
// The engine's reading of such an option, as UTF-8. An odd last byte and
// trailing terminators are dropped.
std::string DecodeOptionText(const void* value, int bytes);

// ---- Files beside the target ------------------------------------------------------
// The side file holds a download until it is complete and checked.
constexpr char kSideFileSuffix[] = ".P2P";
template <typename Char>
std::basic_string<Char> SideFilePath(const std::basic_string<Char>& target) {
  return target + std::basic_string<Char>(kSideFileSuffix, kSideFileSuffix + sizeof kSideFileSuffix - 1);
}
// A side file whose record is for another file (an earlier version), or a
// file at the target given up, is moved here while its data are read for
// pieces of the new one.
constexpr char kOldSideFileSuffix[] = ".P2P.old";
template <typename Char>
std::basic_string<Char> OldSideFilePath(const std::basic_string<Char>& target) {
  return target + std::basic_string<Char>(kOldSideFileSuffix, kOldSideFileSuffix + sizeof kOldSideFileSuffix - 1);
}

// ---- Task link ------------------------------------------------------------------
// A plain URL, or "PDown://b7=1|<url>|h1=<md5 text>" for a file whose MD5 text
// the engine checks before it makes the target.
std::wstring BuildTaskLink(const std::wstring& url, const std::wstring& md5Text);

struct TaskLink {
  std::string url;
  std::string h1;  // lower case; empty when the link carries none
  bool valid = false;
};
// Reads a link as the engine receives it (UTF-8). In the long form the URL is
// the field that is an http(s) address, so a URL holding '=' or "h1" in its
// query still works. A malformed MD5 text could never match: the link is then
// not valid, rather than silently unchecked.
TaskLink ParseTaskLink(const std::string& link);

// ---- Text rules both sides read links and queries with -------------------------
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
// "http://" or "https://" (any case) and something after it.
bool IsHttpUrl(const std::string& url);
// Query-string encoding of the seed queries (unreserved characters kept, the
// rest as %XX), so that the seed service reads exactly what the engine sent.
std::string UrlEncode(const std::string& text);

// ---- The part of a file its MD5 text covers --------------------------------------
// The whole file up to 52428800 bytes, otherwise its last 52428800 bytes.
constexpr uint64_t kMd5TailBytes = 52428800;
constexpr uint64_t Md5RangeStart(uint64_t size) { return size > kMd5TailBytes ? size - kMd5TailBytes : 0; }

}  // namespace engine_contract
