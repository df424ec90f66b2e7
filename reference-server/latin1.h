#pragma once

#include <string>

namespace refserver {

// UTF-8 to ISO-8859-1; characters beyond it become "?".
std::string ToLatin1(const std::string& utf8);

// ISO-8859-1 to UTF-8.
std::string FromLatin1(const std::string& latin1);

} // namespace refserver
