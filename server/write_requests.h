#pragma once

// The client's side of the two write guards. RowDigest: a customer save
// names the record it was loaded from, so that a server that knows the
// field stores nothing over a change the operator never saw (409 with the
// current record). RequestId: every Save of one dialog showing carries the
// same random number, so that a server that knows the field stores a
// repeated save once. A server that ignores both behaves as before.

#include "customer_table.h"
#include "http_client.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// A new RequestId: 32 lowercase hexadecimal characters from the system's
// random source.
QString NewRequestId();

// The record of a table row in the form the RowDigest is taken over: the 21
// fields as the list answer carried them, ID and ACT in decimal, joined with
// "©".
QString CanonicalRecord(const TCustomerTable& table, std::int32_t row);

// The RowDigest of a table row: the lowercase hexadecimal SHA-256 of the
// UTF-8 of its canonical record.
QString RowDigest(const TCustomerTable& table, std::int32_t row);

// A customer save refused because the row changed after it was loaded: the
// server's message and the record as it is stored now (one row).
struct ChangedRow
{
    QString message;
    TCustomerTable current;
};

// Reads the answer of a refused customer save: the "Error: …" line, then the
// current record in the list's record format. Nothing when the answer holds
// no readable record.
std::optional<ChangedRow> ReadChangedRow(const QString& answer);

// A write that failed after the server had received all of it.
class WriteMayBeStored : public TilloraError
{
public:
    using TilloraError::TilloraError;
};

// Posts a write. A failure after the whole request was sent raises
// WriteMayBeStored, whose message adds to the failure's that the server
// may have stored it; a refusal (409) and an abandoned request are raised
// as they are, and a failure before that point with its own message.
QString PostWrite(HttpClient& client, const QString& address, const QStringList& fields);

// A refusal (409) of a write that is not about a changed row, as the error
// the operator sees: the status line and the server's explanation.
TilloraError RefusedWrite(const HttpStatusError& refusal);
