// The reference server's form body parser on arbitrary bytes.
//
// A body of at most 64 fields without "%" that Qt reads as UTF-8 must parse;
// a body of more fields must not. After a successful
// parse: one field per "&"-separated piece, every name and value UTF-8 by
// both the server's check and Qt's, and the fields, encoded again by the
// client's form encoder, parse back to the same fields. A failure is a
// BadRequest and nothing else.

#include "form_fields.h"
#include "form_encoding.h"
#include "fuzz_support.h"

#include <QString>

#include <algorithm>
#include <string>
#include <string_view>

namespace {

using refserver::FormFields;

QByteArray Encode(const std::string& text)
{
    return EncodeFormText(Utf8TextKeepingBom(text));
}

void CheckParsed(std::string_view body, const FormFields& form)
{
    const auto& fields = form.fields();
    if (body.empty()) {
        FUZZ_CHECK(fields.empty());
        return;
    }
    FUZZ_CHECK(fields.size() == std::size_t(std::count(body.begin(), body.end(), '&')) + 1);
    FUZZ_CHECK(fields.size() <= refserver::MaxFields);

    QByteArray again;
    for (std::size_t n = 0; n < fields.size(); ++n) {
        const auto& [name, value] = fields[n];
        FUZZ_CHECK(refserver::IsValidUtf8(name) && refserver::IsValidUtf8(value));
        FUZZ_CHECK(QtReadsAsUtf8(name) && QtReadsAsUtf8(value));
        if (n > 0)
            again += '&';
        again += Encode(name) + '=' + Encode(value);
    }
    FUZZ_CHECK(form.find(fields.front().first) == fields.front().second);

    const FormFields reparsed = FormFields::Parse(again.toStdString());
    FUZZ_CHECK(reparsed.fields() == fields);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    try {
        CheckParsed(body, FormFields::Parse(body));
    } catch (const refserver::BadRequest& e) {
        FUZZ_CHECK(body.find('%') != std::string_view::npos || !QtReadsAsUtf8(body) ||
                   std::size_t(std::count(body.begin(), body.end(), '&')) >=
                       refserver::MaxFields);
        FUZZ_CHECK(*e.what() != '\0');
    } catch (...) {
        AbortOnForeignException();
    }
    return 0;
}
