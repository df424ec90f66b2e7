#pragma once

#include <string>

// The same mixed load (adds, calls, edits, lists, statistics) from eight
// clients against one tillora-server over SQLite and against three over
// one PostgreSQL database, in alternating rounds. Returns the line
// "ratio server_3pg_vs_1sqlite R" (throughput of the three over that of
// the one) and a latency line for each side; empty when a side cannot
// start.
std::string ServerThroughputLines();
