#include "net/http_body.h"

bool ReadHttpBody(HttpBodyIo& io, bool hasContentLength, uint32_t contentLength) {
  const uint32_t expected = hasContentLength ? contentLength : 0;
  io.Event(0, 0, HTTP_EVENT_RECEIVING);
  uint32_t received = 0;
  uint32_t block = 0;
  bool stored = true;
  char buffer[kHttpReadBlock];
  for (;;) {
    uint32_t got = 0;
    if (!io.Read(buffer, kHttpReadBlock, &got) || got == 0) break;
    if (!io.Write(buffer, got)) {
      stored = false;
      break;
    }
    received += got;
    if (block % kHttpProgressEvery == 0) io.Event(received, expected, HTTP_EVENT_PROGRESS);
    ++block;
    if (hasContentLength && received >= expected) break;
  }
  io.Event(0, 0, HTTP_EVENT_DONE);
  if (!stored) return false;
  // A connection that broke before the announced length is a failed download,
  // not a short file that looks complete.
  return !hasContentLength || received >= expected;
}

bool IsConnectedState(bool querySucceeded, uint32_t flags) {
  const uint32_t kModem = 0x01, kLan = 0x02, kProxy = 0x04, kOffline = 0x20;
  if (!querySucceeded || (flags & kOffline)) return false;
  return (flags & (kLan | kModem | kProxy)) != 0;
}
