#include "config/downloader_config.h"
#include "net/http_body.h"

int InitProgressPosition(uint32_t sofar, uint32_t total, int code, int whichFile) {
  if (code != HTTP_EVENT_PROGRESS || whichFile == CONFIG_DOWNLOAD_NONE) return -1;
  int position = 0;
  if (total != 0) {
    double part = static_cast<double>(sofar) / static_cast<double>(total) * 20.0;
    if (whichFile == CONFIG_DOWNLOAD_FILE) position = static_cast<int>(part);
    if (whichFile == CONFIG_DOWNLOAD_SKIN) position = static_cast<int>(part + 20.0);
  }
  return position;
}
