#include "report.h"

#include <cstdio>
#include <set>

namespace {

// Length of the UTF-8 sequence starting at s[i], 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  unsigned min;
  unsigned cp;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) { n = 2; cp = c & 0x1F; min = 0x80; }
  else if ((c & 0xF0) == 0xE0) { n = 3; cp = c & 0x0F; min = 0x800; }
  else if ((c & 0xF8) == 0xF0) { n = 4; cp = c & 0x07; min = 0x10000; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string CleanText(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    const size_t n = (c < 0x20 || c == 0x7F) ? 0 : Utf8Length(raw, i);
    if (n == 0) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
      ++i;
    } else {
      out.append(raw, i, n);
      i += n;
    }
  }
  return out;
}

Report ParseReportTarget(const std::string& target) {
  Report r;
  const size_t q = target.find('?');
  r.path = CleanText(target.substr(0, q));
  if (q == std::string::npos) {
    r.malformed = true;
    return r;
  }
  r.query = CleanText(target.substr(q + 1));
  const std::string& query = r.query;
  std::set<const Report::Field*> tooLong;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string piece = query.substr(start, end - start);
    const size_t eq = piece.find('=');
    if (eq == std::string::npos) {
      r.malformed = true;
    } else {
      const std::string key = piece.substr(0, eq);
      Report::Field* field = nullptr;
      if (key == "action") field = &r.action;
      else if (key == "tg") field = &r.tg;
      else if (key == "cg") field = &r.cg;
      else if (key == "cwdm") field = &r.cwdm;
      else if (key == "game") field = &r.game;
      else if (key == "mid") field = &r.mid;
      else if (key == "ver") field = &r.ver;
      else if (key == "pb") field = &r.pb;
      else if (key == "ps") field = &r.ps;
      if (field) {
        if (field->has || tooLong.count(field)) {
          r.malformed = true;  // the first one counts
        } else if (piece.size() - eq - 1 > kMaxFieldBytes) {
          r.malformed = true;  // kept in the raw query only
          tooLong.insert(field);
        } else {
          field->has = true;
          field->value = piece.substr(eq + 1);
        }
      }
    }
    start = end + 1;
  }
  // Stored as numbers: anything else stays in the raw query only.
  for (Report::Field* bytes : {&r.pb, &r.ps}) {
    const std::string& v = bytes->value;
    if (bytes->has && (v.empty() || v.size() > kMaxByteDigits || v.find_first_not_of("0123456789") != std::string::npos)) {
      bytes->has = false;
      bytes->value.clear();
      r.malformed = true;
    }
  }
  const std::string& a = r.action.value;
  if (!r.action.has || a.empty() || a.size() > 9 || a.find_first_not_of("0123456789") != std::string::npos)
    r.malformed = true;
  return r;
}
