#pragma once

#include "store.h"

#include <string>
#include <vector>

namespace refserver {

// The list formats the client reads: the record count, "<br>", then records
// whose fields each end with "©" and which each end with "®" (UTF-8 here).
std::string CustomerListText(const std::vector<Customer>& customers);
// One customer's 21 fields as a list answer carries them, joined with "©",
// with neither the last field's "©" nor the "®" after it.
std::string CustomerRecordText(const Customer& customer);
std::string CallListText(const std::vector<Call>& calls);

// The two terminators, which no stored value may contain.
inline constexpr char FieldTerminator[] = "\xC2\xA9";  // ©
inline constexpr char RecordTerminator[] = "\xC2\xAE"; // ®

bool ContainsTerminator(const std::string& text);

} // namespace refserver
