// Runs one CHttpDownload request and prints what happened:
//   http_probe URL PATH|- [--timeout MS]
// Output lines: "event CODE SOFAR TOTAL", then "result N" and "status S".
#include <windows.h>

#include <cwchar>

#include "net/http_download.h"
#include "probe_output_win.h"

namespace {

class PrintingListener : public IHttpDownloadCallback {
 public:
  int OnHttpEvent(uint32_t sofar, uint32_t total, int code) override {
    PrintLine(L"event %d %u %u", code, sofar, total);
    return 0;
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    PrintLine(L"usage: http_probe URL PATH|- [--timeout MS]");
    return 2;
  }
  CHttpDownload http;
  PrintingListener listener;
  http.SetCallback(&listener);
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--timeout") == 0)
      http.SetTimeout(static_cast<uint32_t>(std::wcstoul(argv[i + 1], nullptr, 10)));
  }
  const wchar_t* path = std::wcscmp(argv[2], L"-") == 0 ? nullptr : argv[2];
  int result = http.DownloadToFile(argv[1], path);
  PrintLine(L"result %d", result);
  PrintLine(L"status %u", http.GetStatus());
  PrintLine(L"connected %d", IsInternetConnected());
  return 0;
}
