#pragma once

#include <string>

#include "contract/report_words.h"

// The report's words as SQL literals, for the texts gdserver builds from
// them: SqlText("5") is '5'. Words and numbers carry no quote.
inline std::string SqlText(const char* word) { return std::string("'") + word + "'"; }
inline std::string SqlText(int number) { return "'" + std::to_string(number) + "'"; }

// The condition of a finished download, "action = '5' AND cg = '1'", with
// the columns of `table` ("" or an alias with its dot). The index of the
// sharing figures and the query that reads it say it alike.
inline std::string FinishedDownload(const std::string& table = "") {
  return table + "action = " + SqlText(report_words::kActionCompleteDownload.text) + " AND " + table +
         "cg = " + SqlText(report_words::kCompleted);
}
