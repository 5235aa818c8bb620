#pragma once

#include <cstdint>

// Listener of one CHttpDownload; called on the downloading thread.
class IHttpDownloadCallback {
 public:
  virtual int OnHttpEvent(uint32_t sofar, uint32_t total, int code) = 0;

 protected:
  ~IHttpDownloadCallback() = default;
};

// One HTTP or HTTPS GET at a time, synchronous, body to a file or discarded.
// HTTPS certificates are checked by the system and never waived.
class CHttpDownload {
 public:
  CHttpDownload() = default;
  virtual ~CHttpDownload() = default;

  void SetTimeout(uint32_t ms) { SetTimeouts(ms, ms, ms); }
  void SetTimeouts(uint32_t connectMs, uint32_t sendMs, uint32_t receiveMs) {
    m_connectTimeout = connectMs;
    m_sendTimeout = sendMs;
    m_receiveTimeout = receiveMs;
  }
  void SetCallback(IHttpDownloadCallback* callback) { m_callback = callback; }
  // A body larger than this fails like a broken connection (0: no cap).
  void SetMaxBodyBytes(uint32_t bytes) { m_maxBodyBytes = bytes; }
  uint32_t GetStatus() const { return m_status; }

  // Returns nonzero when a 200 response arrived whole. `path` may be null:
  // the body is then read and thrown away.
  int DownloadToFile(const wchar_t* url, const wchar_t* path);

 private:
  void ApplyTimeouts(void* internetHandle) const;
  void Raise(uint32_t sofar, uint32_t total, int code) {
    if (m_callback) m_callback->OnHttpEvent(sofar, total, code);
  }

  uint32_t m_connectTimeout = 0;
  uint32_t m_sendTimeout = 0;
  uint32_t m_receiveTimeout = 0;
  IHttpDownloadCallback* m_callback = nullptr;
  uint32_t m_status = 0;
  uint32_t m_maxBodyBytes = 0;
};

// Nonzero when the system reports a usable connection.
int IsInternetConnected();
