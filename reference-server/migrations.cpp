#include "migrations.h"

namespace refserver {

namespace {

// Version 1 is the layout from before versions were recorded: IF NOT EXISTS
// lets such a database take it in place.
const Migration Sqlite[] = {
    {1, R"sql(
CREATE TABLE IF NOT EXISTS customers (
    id  INTEGER PRIMARY KEY AUTOINCREMENT,
    ln  TEXT NOT NULL, fn TEXT NOT NULL, bn TEXT NOT NULL, ad TEXT NOT NULL,
    cy  TEXT NOT NULL, st TEXT NOT NULL, zp TEXT NOT NULL, p1 TEXT NOT NULL,
    p2  TEXT NOT NULL, em TEXT NOT NULL, ho TEXT NOT NULL, dv TEXT NOT NULL,
    sn  TEXT NOT NULL, pk TEXT NOT NULL, pm TEXT NOT NULL,
    bd  TEXT, dd TEXT, ani TEXT, pd TEXT,
    act INTEGER NOT NULL CHECK (act IN (-1, 0, 1))
);
CREATE TABLE IF NOT EXISTS calls (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    customer_id INTEGER NOT NULL REFERENCES customers(id),
    direction   TEXT NOT NULL,
    handler     TEXT NOT NULL,
    call_date   TEXT NOT NULL,
    call_time   TEXT NOT NULL,
    text        TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS calls_by_customer ON calls(customer_id);
)sql"},
    // The answers of the writes that carried a RequestId (write_guards.h).
    {2, R"sql(
CREATE TABLE IF NOT EXISTS request_answers (
    request_id  TEXT PRIMARY KEY,
    fingerprint TEXT NOT NULL,
    answer      TEXT NOT NULL,
    stored_at   INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS request_answers_by_age ON request_answers(stored_at);
)sql"},
};

// Identifiers come from id_counters, not from sequences: a sequence gives
// numbers away to transactions that roll back, and the numbers must be
// those SQLite's AUTOINCREMENT hands out (one more than the last ever
// used). The counter row is also the lock that keeps writers in line.
const Migration Postgres[] = {
    {1, R"sql(
CREATE TABLE customers (
    id  bigint PRIMARY KEY,
    ln  text NOT NULL, fn text NOT NULL, bn text NOT NULL, ad text NOT NULL,
    cy  text NOT NULL, st text NOT NULL, zp text NOT NULL, p1 text NOT NULL,
    p2  text NOT NULL, em text NOT NULL, ho text NOT NULL, dv text NOT NULL,
    sn  text NOT NULL, pk text NOT NULL, pm text NOT NULL,
    bd  text, dd text, ani text, pd text,
    act integer NOT NULL CHECK (act IN (-1, 0, 1))
);
CREATE TABLE calls (
    id          bigint PRIMARY KEY,
    customer_id bigint NOT NULL REFERENCES customers(id),
    direction   text NOT NULL,
    handler     text NOT NULL,
    call_date   text NOT NULL,
    call_time   text NOT NULL,
    text        text NOT NULL
);
CREATE INDEX calls_by_customer ON calls(customer_id);
CREATE TABLE id_counters (
    name text PRIMARY KEY,
    last bigint NOT NULL
);
INSERT INTO id_counters (name, last) VALUES ('customers', 0), ('calls', 0);
)sql"},
    // The answers of the writes that carried a RequestId (write_guards.h).
    {2, R"sql(
CREATE TABLE request_answers (
    request_id  text PRIMARY KEY,
    fingerprint text NOT NULL,
    answer      text NOT NULL,
    stored_at   bigint NOT NULL
);
CREATE INDEX request_answers_by_age ON request_answers(stored_at);
)sql"},
};

} // namespace

std::span<const Migration> SqliteMigrations()
{
    return Sqlite;
}

std::span<const Migration> PostgresMigrations()
{
    return Postgres;
}

} // namespace refserver
