#include "text.h"

#include <cstdio>

namespace p2sp {

std::string SizeText(uint64_t bytes) {
  static const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double v = static_cast<double>(bytes);
  int unit = 0;
  while (v >= 1024 && unit < 4) {
    v /= 1024;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, unit == 0 ? "%.0f %s" : "%.2f %s", v, kUnits[unit]);
  return buf;
}

std::string ProgressLine(uint64_t done, uint64_t total, uint64_t speed) {
  std::string line = SizeText(done);
  if (total > 0) {
    char pct[16];
    std::snprintf(pct, sizeof pct, " (%d%%)", static_cast<int>(done >= total ? 100 : done * 100 / total));
    line += " / " + SizeText(total) + pct;
  }
  line += "  " + SizeText(speed) + "/s  ETA ";
  if (total > 0 && speed > 0 && total >= done) {
    uint64_t s = (total - done) / speed;
    char eta[32];
    std::snprintf(eta, sizeof eta, "%u:%02u:%02u", static_cast<unsigned>(s / 3600), static_cast<unsigned>(s / 60 % 60),
                  static_cast<unsigned>(s % 60));
    line += eta;
  } else {
    line += "--:--:--";
  }
  return line;
}

}  // namespace p2sp
