#include "report.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "contract/report_words.h"
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

namespace {

// Bytes `raw[from, to)` take once written by CleanText.
size_t CleanLength(const std::string& raw, size_t from, size_t to) {
  size_t n = 0;
  for (size_t i = from; i < to;) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    const size_t length = (c < 0x20 || c == 0x7F) ? 0 : gd_text::Utf8SequenceAt(raw, i);
    n += length == 0 ? 3 : length;
    i += length == 0 ? 1 : length;
  }
  return n;
}

bool IsNumber(const std::string& v, size_t maxDigits) {
  return !v.empty() && v.size() <= maxDigits && v.find_first_not_of("0123456789") == std::string::npos;
}

// The fields a report may carry, by position in Walk's result.
enum FieldIndex { kAction, kTg, kCg, kCwdm, kGame, kMid, kVer, kPb, kPs, kFieldCount };
const char* const kFieldNames[kFieldCount] = {
    report_words::kFieldAction.text, report_words::kFieldTg.text,  report_words::kFieldCg.text,
    report_words::kFieldCwdm.text,   report_words::kFieldGame.text, report_words::kFieldMid.text,
    report_words::kFieldVer.text,    report_words::kFieldPb.text,   report_words::kFieldPs.text,
};

struct Walked {
  Report::Field fields[kFieldCount];
  bool malformed = false;
};

// The rule of a well-formed query, in one place for the full parse (on the
// cleaned query) and the quick check (on the raw one): the two agree, as
// cleaning turns no byte into '&', '=' or a digit. `length` measures a value
// as it is stored.
template <class Length>
Walked Walk(const std::string& query, Length length) {
  Walked w;
  bool tooLong[kFieldCount] = {};
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    // Looked for within the piece only: a long query of pieces without '='
    // is walked once.
    const size_t eq = static_cast<size_t>(std::find(query.begin() + start, query.begin() + end, '=') - query.begin());
    if (eq == end) {
      w.malformed = true;
    } else {
      for (int i = 0; i < kFieldCount; ++i) {
        if (query.compare(start, eq - start, kFieldNames[i]) != 0) continue;
        Report::Field& field = w.fields[i];
        if (field.has || tooLong[i]) {
          w.malformed = true;  // the first one counts
        } else if (length(query, eq + 1, end) > kMaxFieldBytes) {
          w.malformed = true;  // kept in the raw query only
          tooLong[i] = true;
        } else {
          field.has = true;
          field.value = query.substr(eq + 1, end - eq - 1);
        }
        break;
      }
    }
    start = end + 1;
  }
  // Stored as numbers: anything else stays in the raw query only.
  for (Report::Field* bytes : {&w.fields[kPb], &w.fields[kPs]}) {
    if (bytes->has && !IsNumber(bytes->value, kMaxByteDigits)) {
      bytes->has = false;
      bytes->value.clear();
      w.malformed = true;
    }
  }
  if (!w.fields[kAction].has || !IsNumber(w.fields[kAction].value, 9)) w.malformed = true;
  return w;
}

}  // namespace

Report ParseReportTarget(const std::string& target) {
  Report r;
  const size_t q = target.find('?');
  r.path = CleanText(target.substr(0, q));
  if (q == std::string::npos) {
    r.malformed = true;
    return r;
  }
  r.query = CleanText(target.substr(q + 1));
  Walked w = Walk(r.query, [](const std::string&, size_t from, size_t to) { return to - from; });
  Report::Field* const fields[kFieldCount] = {&r.action, &r.tg, &r.cg, &r.cwdm, &r.game, &r.mid, &r.ver, &r.pb, &r.ps};
  for (int i = 0; i < kFieldCount; ++i) *fields[i] = std::move(w.fields[i]);
  r.malformed = w.malformed;
  return r;
}

bool ReportMalformed(const std::string& target) {
  const size_t q = target.find('?');
  if (q == std::string::npos) return true;
  return Walk(target.substr(q + 1), CleanLength).malformed;
}
