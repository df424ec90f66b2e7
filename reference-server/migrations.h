#pragma once

#include <span>

namespace refserver {

// One numbered step of a schema: the SQL that takes a database from the
// version before it to `version`. Steps are only ever appended; a step that
// has shipped is never changed.
struct Migration
{
    int version;
    const char* sql;
};

// The steps of each engine, by rising version. A new table or column gets
// a step in both lists, with the same number.
std::span<const Migration> SqliteMigrations();
std::span<const Migration> PostgresMigrations();

} // namespace refserver
