// Form encoding on arbitrary text. The input is UTF-8, or, when its first
// byte is 0xFF, UTF-16LE after that byte (so lone surrogates occur too).
//
// EncodeFormText writes only unreserved characters, "+" and "%XX" with
// upper-case digits, and decodes back to the text's UTF-8 bytes. The text's
// lines, encoded with EncodeFormBody and read by the reference server's own
// form parser, come back as the same fields in the same order.

#include "form_encoding.h"
#include "errors.h"
#include "form_fields.h"
#include "fuzz_support.h"

#include <QStringList>

#include <cstring>
#include <string>

namespace {

QString InputText(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || data[0] != 0xFF)
        return Utf8Text(data, size);
    // Copied, not cast: the bytes after the first are not 2-byte aligned.
    QString text(qsizetype((size - 1) / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data + 1, std::size_t(text.size()) * sizeof(char16_t));
    return text;
}

bool IsUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Reverses the encoding, checking its alphabet on the way.
QByteArray Decode(const QByteArray& encoded)
{
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            FUZZ_CHECK(i + 2 < encoded.size());
            FUZZ_CHECK(IsUpperHex(encoded[i + 1]) && IsUpperHex(encoded[i + 2]));
            out += char(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2]));
            i += 2;
        } else {
            FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '*' || c == '-' || c == '.' || c == '_');
            out += c;
        }
    }
    return out;
}

std::string Std(const QByteArray& bytes)
{
    return bytes.toStdString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = InputText(data, size);
    try {
        FUZZ_CHECK(Decode(EncodeFormText(text)) == text.toUtf8());

        const QStringList lines = text.split(u'\n');
        const QByteArray body = EncodeFormBody(lines);
        FUZZ_CHECK(body.count('&') == lines.size() - 1);
        // The server takes at most 64 fields; the client sends at most 21.
        if (body.isEmpty() || std::size_t(lines.size()) > refserver::MaxFields)
            return 0;
        const refserver::FormFields form = refserver::FormFields::Parse(Std(body));
        const auto& fields = form.fields();
        FUZZ_CHECK(qsizetype(fields.size()) == lines.size());
        for (qsizetype n = 0; n < lines.size(); ++n) {
            const QString& line = lines[n];
            const qsizetype eq = line.indexOf(u'=');
            const QString name = eq < 0 ? line : line.first(eq);
            const QString value = eq < 0 ? QString() : line.sliced(eq + 1);
            FUZZ_CHECK(fields[std::size_t(n)].first == Std(name.toUtf8()));
            FUZZ_CHECK(fields[std::size_t(n)].second == Std(value.toUtf8()));
        }
    } catch (const refserver::BadRequest& e) {
        std::fprintf(stderr, "the reference server refused the client's form body: %s\n", e.what());
        std::abort();
    } catch (const TilloraError& e) {
        FUZZ_CHECK(!e.message().isEmpty());
    } catch (...) {
        AbortOnForeignException();
    }
    return 0;
}
