#include "form_encoding.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <ostream>

// Readable failure messages.
inline void PrintTo(const QByteArray& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace Qt::Literals::StringLiterals;

namespace {

struct TextCase
{
    const char16_t* text;
    const char* encoded;
};

} // namespace

TEST(FormEncodingTest, EncodesTextCharacterByCharacter)
{
    const TextCase cases[] = {
        {u"", ""},
        {u"ABCXYZabcxyz0189", "ABCXYZabcxyz0189"},
        {u"*-._", "*-._"},
        {u"a b  c", "a+b++c"},
        // Characters that mean something in a form body must not survive.
        {u"+", "%2B"},
        {u"&", "%26"},
        {u"=", "%3D"},
        {u"%", "%25"},
        {u"O'Brien & Sons", "O%27Brien+%26+Sons"},
        {u"line1\r\nline2", "line1%0D%0Aline2"},
        {u"\t", "%09"},
        // Left alone by other encoders, escaped here.
        {u"~!()", "%7E%21%28%29"},
        {u"/?#:;,@", "%2F%3F%23%3A%3B%2C%40"},
        // Upper-case hexadecimal digits.
        {u"\x7f", "%7F"},
        {u"[]{}|\\^`\"<>", "%5B%5D%7B%7D%7C%5C%5E%60%22%3C%3E"},
        // Non-ASCII goes out as UTF-8 bytes, never as Latin-1.
        {u"\u00e9", "%C3%A9"},
        {u"Z\u00fcrich", "Z%C3%BCrich"},
        {u"\u00ff", "%C3%BF"},
        {u"\u20ac", "%E2%82%AC"},
        {u"\U0001F600", "%F0%9F%98%80"},
        {u"caf\u00e9 cr\u00e8me", "caf%C3%A9+cr%C3%A8me"},
    };
    for (const TextCase& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(EncodeFormText(text), QByteArray(c.encoded));
    }
}

struct BodyCase
{
    QStringList fields;
    const char* body;
};

TEST(FormEncodingTest, SplitsEachLineAtItsFirstEqualsSign)
{
    const BodyCase cases[] = {
        {{}, ""},
        {{u"name=value"_s}, "name=value"},
        {{u"a=1"_s, u"b=2"_s, u"c=3"_s}, "a=1&b=2&c=3"},
        // Only the first "=" separates; later ones belong to the value.
        {{u"expr=a=b"_s}, "expr=a%3Db"},
        {{u"x==="_s}, "x=%3D%3D"},
        {{u"=value"_s}, "=value"},
        {{u"name="_s}, "name="},
        {{u"="_s}, "="},
        // A line without "=" is encoded whole.
        {{u"flag"_s}, "flag"},
        {{u"two words"_s, u"k=v"_s}, "two+words&k=v"},
        // Empty lines still take their place between the "&".
        {{u""_s}, ""},
        {{u""_s, u""_s}, "&"},
        {{u"a"_s, u""_s, u"b"_s}, "a&&b"},
        {{u""_s, u"a=1"_s}, "&a=1"},
        // Both halves are encoded, with the same rules.
        {{u"first name=Se\u00e1n O'Neill"_s}, "first+name=Se%C3%A1n+O%27Neill"},
        {{u"q&x=1&2"_s}, "q%26x=1%262"},
        {{u"note=50% + tax"_s}, "note=50%25+%2B+tax"},
    };
    for (const BodyCase& c : cases) {
        SCOPED_TRACE(c.fields.join(u'|').toStdString());
        EXPECT_EQ(EncodeFormBody(c.fields), QByteArray(c.body));
    }
}
