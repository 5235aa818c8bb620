#pragma once

#include <cstdint>
#include <string>

// Event codes raised to an IHttpDownloadCallback.
enum HttpEvent : int {
  HTTP_EVENT_CONNECTING = 2,
  HTTP_EVENT_RECEIVING = 4,
  HTTP_EVENT_PROGRESS = 5,
  HTTP_EVENT_DONE = 6,
};

constexpr uint32_t kHttpReadBlock = 1024;
constexpr uint32_t kHttpProgressEvery = 10;

// What the body loop needs from its surroundings: the socket side, the file
// side and the listener. WinINet and the file system on Windows, fakes in tests.
class HttpBodyIo {
 public:
  virtual ~HttpBodyIo() = default;
  // Reads up to `capacity` bytes; false when the read failed.
  virtual bool Read(void* buffer, uint32_t capacity, uint32_t* got) = 0;
  // Stores received bytes; false when they could not be stored.
  virtual bool Write(const void* data, uint32_t size) = 0;
  virtual void Event(uint32_t sofar, uint32_t total, int code) = 0;
};

// Reads a response body in 1024-byte blocks, raising RECEIVING, PROGRESS after
// the 1st, 11th, 21st... block, and DONE. Returns true when the body arrived
// whole: with a Content-Length, when at least that many bytes came; without
// one, when the server ended the body. A chunked body (`chunked`) is framed by
// the server, so a read that fails part-way fails the body; without any
// framing the end of the connection ends it. A body the file could not take
// fails, and so does one larger than `maxBytes` (0: no cap), before anything
// beyond the cap is stored.
bool ReadHttpBody(HttpBodyIo& io, bool hasContentLength, uint32_t contentLength, bool chunked = false,
                  uint32_t maxBytes = 0);

// The system's connection flags as the client judges them: online only when
// the query succeeded, the offline bit (0x20) is clear and a LAN, modem or
// proxy connection (0x02, 0x01, 0x04) is present.
bool IsConnectedState(bool querySucceeded, uint32_t flags);
