#include "net/http_body.h"

bool ReadHttpBody(HttpBodyIo& io, bool hasContentLength, uint32_t contentLength, bool chunked, uint32_t maxBytes) {
  const uint32_t expected = hasContentLength ? contentLength : 0;
  io.Event(0, 0, HTTP_EVENT_RECEIVING);
  // An announced length over the cap is refused before a byte is read.
  bool whole = maxBytes == 0 || !hasContentLength || contentLength <= maxBytes;
  uint32_t received = 0;
  uint32_t block = 0;
  char buffer[kHttpReadBlock];
  while (whole) {
    uint32_t got = 0;
    if (!io.Read(buffer, kHttpReadBlock, &got)) {
      // Only a chunked body says where it ends; anything else ends here.
      if (chunked) whole = false;
      break;
    }
    if (got == 0) break;
    if (maxBytes != 0 && got > maxBytes - received) {
      whole = false;
      break;
    }
    if (!io.Write(buffer, got)) {
      whole = false;
      break;
    }
    received += got;
    if (block % kHttpProgressEvery == 0) io.Event(received, expected, HTTP_EVENT_PROGRESS);
    ++block;
    if (hasContentLength && received >= expected) break;
  }
  io.Event(0, 0, HTTP_EVENT_DONE);
  if (!whole) return false;
  // A connection that broke before the announced length is a failed download,
  // not a short file that looks complete.
  return !hasContentLength || received >= expected;
}

bool IsConnectedState(bool querySucceeded, uint32_t flags) {
  const uint32_t kModem = 0x01, kLan = 0x02, kProxy = 0x04, kOffline = 0x20;
  if (!querySucceeded || (flags & kOffline)) return false;
  return (flags & (kLan | kModem | kProxy)) != 0;
}
