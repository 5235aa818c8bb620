#pragma once

#include <string>
#include <vector>

// The reports database, the same SQL on SQLite and PostgreSQL.

// Statements run at open, in order.
const std::vector<std::string>& Schema();

// Run in one transaction before Schema when kHasReports works and
// kHasGameNumbers fails (a table of the first version).
extern const char* const kAddGameNumbers[];  // ends with nullptr
extern const char kHasReports[];
extern const char kHasGameNumbers[];
// Run in one transaction before Schema when kHasReports works and
// kHasPeerBytes fails (a table made before the sharing figures).
extern const char* const kAddPeerBytes[];  // ends with nullptr
extern const char kHasPeerBytes[];
