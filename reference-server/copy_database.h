#pragma once

#include <string>

namespace refserver {

// Copies the whole database `from` into the empty database `to` (each an
// SQLite file or a PostgreSQL URI), identifiers and counters included, in
// one transaction on each side. Returns what was copied; throws
// DatabaseError, storing nothing, when `from` does not exist, `to` holds
// data or the counts after the copy differ from those read.
std::string CopyDatabase(const std::string& from, const std::string& to);

} // namespace refserver
