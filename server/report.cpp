#include "report.h"

#include <cstdio>
#include <set>

#include "contract/text.h"

std::string CleanText(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    const size_t n = (c < 0x20 || c == 0x7F) ? 0 : gd_text::Utf8SequenceAt(raw, i);
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
