#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One report as it reached us. Absent fields are marked by their `has` flag
// rather than an empty value, because the program sends empty values too
// (an unknown machine identifier is "mid=").
struct Report {
  int64_t receivedMs = 0;  // arrival, milliseconds since the epoch (UTC)
  std::string client;      // peer address
  std::string path;
  std::string query;       // the raw query text after "?"
  struct Field {
    bool has = false;
    std::string value;
  };
  Field action, tg, cg, cwdm, game, mid, ver;
  // "CompleteDownload" of a newer program: the game's bytes from other
  // players and the bytes served to them; absent in older reports, and
  // when not a number of at most kMaxByteDigits digits.
  Field pb, ps;
  bool malformed = false;
};

// Byte counts above 999 TB are no count a player's run can reach.
constexpr size_t kMaxByteDigits = 15;

// The program's fields are a few dozen bytes; longer ones are not indexed.
constexpr size_t kMaxFieldBytes = 256;

// Splits the raw request target (path and query, exactly as sent) into a
// report. Values are kept as they come: the program encodes nothing, so no
// percent-decoding happens; bytes that are not UTF-8 text or are control
// characters are written as %XX so that every database takes them. A query
// is malformed when it has no numeric action, a piece without "=", a field
// given twice, a field longer than kMaxFieldBytes, or a pb or ps that is not
// a byte count (then only the raw query keeps it); it is still kept.
Report ParseReportTarget(const std::string& target);

// ParseReportTarget(target).malformed, without keeping anything: for the
// answer to a report, which is parsed once it is stored.
bool ReportMalformed(const std::string& target);

// The same rule for any stored text.
std::string CleanText(const std::string& raw);
