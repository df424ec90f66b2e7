#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace refserver {

class BadRequest : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The most fields a form body may hold; the client sends at most 21.
inline constexpr std::size_t MaxFields = 64;

// A decoded form body, in the order the fields were sent.
class FormFields
{
public:
    // Decodes "name=value&..." ("+" is a space, %XX a byte); the result must
    // be UTF-8. Raises BadRequest on a malformed body.
    static FormFields Parse(std::string_view body);

    const std::vector<std::pair<std::string, std::string>>& fields() const { return m_fields; }
    std::optional<std::string> find(std::string_view name) const;
    // Raises BadRequest naming the field when it is missing.
    const std::string& require(std::string_view name) const;
    // Raises BadRequest for a field sent twice (which of the two would be
    // meant?) or holding a control character other than tab, CR and LF
    // (a NUL cuts the text short in other tools).
    void requireWellFormed() const;

private:
    std::vector<std::pair<std::string, std::string>> m_fields;
};

bool IsValidUtf8(std::string_view text);

} // namespace refserver
