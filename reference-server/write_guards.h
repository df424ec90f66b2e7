#pragma once

// The two guards a write may carry. RowDigest (customer saves): the SHA-256
// of the record as the client loaded it; a row changed since then is not
// overwritten. RequestId (every write): one number per dialog showing; a
// repeated save of a stored request stores nothing and gets the first answer.
// A request without either field is stored as it always was.

#include "form_fields.h"
#include "store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace refserver {

inline constexpr std::size_t RowDigestLength = 64;
// How long the answer of a write with a RequestId is kept: a week and a day.
inline constexpr std::int64_t KeptAnswerSeconds = 8 * 24 * 60 * 60;
inline constexpr std::size_t RequestIdLength = 32;

// The server's clock, in seconds since 1970, for the age of kept answers:
// the server process decides, not the database's host.
std::int64_t SecondsNow();

// Lowercase hexadecimal SHA-256 of `bytes`.
std::string Sha256Hex(std::string_view bytes);

// The RowDigest of a request: nullopt without one. Raises BadRequest when
// it is not 64 lowercase hexadecimal characters.
std::optional<std::string> ReadRowDigest(const FormFields& form);

// The RequestId of a write to `script` with the digest of its other fields
// (those of `form`, then those of `query`): nullopt without one. Raises
// BadRequest when it is not 32 lowercase hexadecimal characters.
std::optional<RequestKey> ReadRequestKey(std::string_view script, const FormFields& form,
                                         const FormFields* query = nullptr);

// The digest of the customer's record as a client reads it from a list
// answer: over ISO-8859-1 a character beyond it arrives as "?".
std::string RowDigest(const Customer& customer, bool latin1);

// The dialog captions of the fields in which a save differs from the row.
std::vector<std::string> DifferingCaptions(const Customer& stored, const Customer& sent);

// The answer to a customer save whose row changed after the client loaded
// it: an "Error: " line naming the differing fields, then the stored record
// in the list's record format.
std::string ChangedRowAnswer(const Customer& stored, const Customer& sent);

// The answer to a RequestId stored before with other fields.
std::string RepeatedRequestAnswer();

} // namespace refserver
