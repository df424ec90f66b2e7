#include "form_fields.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace refserver {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            const int hi = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                throw BadRequest("The form body holds a malformed %-escape.");
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    if (!IsValidUtf8(out))
        throw BadRequest("The form body is not UTF-8 text.");
    return out;
}

// The first control character in UTF-8 text other than tab, CR and LF: C0,
// DEL and C1 (U+0080 to U+009F).
std::optional<unsigned> FirstControl(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F)
            return c;
        if (c == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F)
                return next;
        }
    }
    return std::nullopt;
}

// How a refusal names a field: a plain name as it is, anything else (which
// could be markup or a script) not at all, since answers never carry
// submitted text.
std::string FieldSubject(std::string_view name)
{
    const bool plain = !name.empty() && name.size() <= 32 &&
                       std::all_of(name.begin(), name.end(), [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '_';
                       });
    return plain ? "The field \"" + std::string(name) + "\"" : std::string("A field");
}

std::string ControlRefusal(std::string_view subject, unsigned control)
{
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", control);
    return std::string(subject) + " holds the control character " + code +
           "; only tab, CR and LF are allowed.";
}

} // namespace

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not text.
        static constexpr char32_t Minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < Minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

FormFields FormFields::Parse(std::string_view body)
{
    FormFields form;
    if (body.empty())
        return form;
    // Counted before anything is decoded, so that a body of separators
    // cannot make thousands of empty fields.
    if (std::size_t(std::count(body.begin(), body.end(), '&')) >= MaxFields)
        throw BadRequest("The form body has more than " + std::to_string(MaxFields) + " fields.");
    form.m_fields.reserve(std::size_t(std::count(body.begin(), body.end(), '&')) + 1);
    std::size_t start = 0;
    for (;;) {
        const std::size_t amp = body.find('&', start);
        const std::string_view line = body.substr(
            start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            form.m_fields.emplace_back(Decode(line), std::string());
        else
            form.m_fields.emplace_back(Decode(line.substr(0, eq)), Decode(line.substr(eq + 1)));
        if (amp == std::string_view::npos)
            break;
        start = amp + 1;
    }
    return form;
}

std::optional<std::string> FormFields::find(std::string_view name) const
{
    for (const auto& [key, value] : m_fields)
        if (key == name)
            return value;
    return std::nullopt;
}

const std::string& FormFields::require(std::string_view name) const
{
    for (const auto& [key, value] : m_fields)
        if (key == name)
            return value;
    throw BadRequest("The field \"" + std::string(name) + "\" is missing.");
}

void FormFields::requireWellFormed() const
{
    std::unordered_set<std::string_view> seen;
    for (const auto& [name, value] : m_fields) {
        if (const auto c = FirstControl(name))
            throw BadRequest(ControlRefusal("A field name", *c));
        if (const auto c = FirstControl(value))
            throw BadRequest(ControlRefusal(FieldSubject(name), *c));
        if (!seen.insert(name).second)
            throw BadRequest(FieldSubject(name) + " appears more than once.");
    }
}

} // namespace refserver
