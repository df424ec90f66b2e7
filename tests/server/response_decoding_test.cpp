#include "response_decoding.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <ostream>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct DecodeCase
{
    const char* contentType;
    const char* body;
    const char16_t* text;
};

void ExpectDecodings(const DecodeCase* begin, const DecodeCase* end)
{
    for (const DecodeCase* c = begin; c != end; ++c) {
        SCOPED_TRACE(std::string("Content-Type: ") + c->contentType + "\nbody: " + c->body);
        EXPECT_EQ(DecodeResponseBody(QByteArray(c->body), QByteArray(c->contentType)),
                  QString::fromUtf16(c->text));
    }
}

} // namespace

TEST(ResponseDecodingTest, XmlMediaTypesUseTheDeclaredEncoding)
{
    const DecodeCase cases[] = {
        {"application/xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80</a>",
         u"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\u20ac</a>"},
        {"application/xml", "<?xml version='1.0' encoding='utf-8'?><a>\xC3\xA9</a>",
         u"<?xml version='1.0' encoding='utf-8'?><a>\u00e9</a>"},
        // The declaration outranks the charset parameter.
        {"application/xml; charset=iso-8859-1",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>",
         u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\u00e9</a>"},
        {"application/xml-dtd", "<?xml version=\"1.0\" encoding=\"utf-8\"?><!-- \xC3\xA9 -->",
         u"<?xml version=\"1.0\" encoding=\"utf-8\"?><!-- \u00e9 -->"},
        {"application/xml-external-parsed-entity",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\x80",
         u"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\u20ac"},
        {"application/atom+xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?><feed>\xC3\xA9</feed>",
         u"<?xml version=\"1.0\" encoding=\"utf-8\"?><feed>\u00e9</feed>"},
        {"image/svg+xml; charset=us-ascii",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?><svg>\xC3\xA9</svg>",
         u"<?xml version=\"1.0\" encoding=\"utf-8\"?><svg>\u00e9</svg>"},
        // Media type names are case-blind.
        {"Application/XML", "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xC3\xA9</a>",
         u"<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\u00e9</a>"},
        // No declared encoding: the next rule decides.
        {"application/xml; charset=utf-8", "<a>\xC3\xA9</a>", u"<a>\u00e9</a>"},
    };
    ExpectDecodings(std::begin(cases), std::end(cases));
}

TEST(ResponseDecodingTest, CharsetParameterComesNext)
{
    const DecodeCase cases[] = {
        {"text/html; charset=utf-8", "caf\xC3\xA9", u"caf\u00e9"},
        {"text/html;charset=UTF-8", "caf\xC3\xA9", u"caf\u00e9"},
        {"text/html; charset=\"utf-8\"", "caf\xC3\xA9", u"caf\u00e9"},
        {"TEXT/HTML; CHARSET=utf-8", "caf\xC3\xA9", u"caf\u00e9"},
        {"text/html; level=1; charset=utf-8", "caf\xC3\xA9", u"caf\u00e9"},
        {"application/json; charset=utf-8", "\"\xC3\xA9\"", u"\"\u00e9\""},
        {"text/plain; charset=iso-8859-1", "\xA9\xE9", u"\u00a9\u00e9"},
        {"text/plain; charset=windows-1252", "\x80 \x99 \x9C", u"\u20ac \u2122 \u0153"},
        // For text types the parameter outranks what the body itself says.
        {"text/xml; charset=utf-8",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xC3\xA9</a>",
         u"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\u00e9</a>"},
        {"text/html; charset=utf-8",
         "<html><head><meta charset=\"windows-1252\"></head><body>\xC3\xA9</body></html>",
         u"<html><head><meta charset=\"windows-1252\"></head><body>\u00e9</body></html>"},
    };
    ExpectDecodings(std::begin(cases), std::end(cases));
}

TEST(ResponseDecodingTest, TextTypesWithoutCharsetAreLatin1)
{
    const DecodeCase cases[] = {
        {"text/plain", "\xA9\xAE", u"\u00a9\u00ae"},
        {"text/html", "<p>caf\xE9</p>", u"<p>caf\u00e9</p>"},
        // A meta element does not count once the type is text.
        {"text/html", "<html><head><meta charset=\"utf-8\"></head><body>\xC3\xA9</body></html>",
         u"<html><head><meta charset=\"utf-8\"></head><body>\u00c3\u00a9</body></html>"},
        {"text/csv", "a;\xFC", u"a;\u00fc"},
    };
    ExpectDecodings(std::begin(cases), std::end(cases));
}

TEST(ResponseDecodingTest, TextXmlTypesWithoutCharsetIgnoreTheDeclaration)
{
    // These are US-ASCII, whatever the declaration claims; how a byte above
    // 127 comes out is not pinned down, only that it is not taken as UTF-8
    // or as Latin-1 and that the ASCII part is intact.
    const char* types[] = {"text/xml", "text/xml-external-parsed-entity", "text/rss+xml"};
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xC3\xA9</a>";
    const QString prefix = QString::fromUtf16(u"<?xml version=\"1.0\" encoding=\"utf-8\"?><a>");
    for (const char* type : types) {
        SCOPED_TRACE(type);
        const QString text = DecodeResponseBody(body, type);
        EXPECT_TRUE(text.startsWith(prefix)) << text.toStdString();
        EXPECT_TRUE(text.endsWith(u"</a>")) << text.toStdString();
        EXPECT_FALSE(text.contains(u'\u00e9')) << text.toStdString();
        EXPECT_FALSE(text.contains(u"\u00c3\u00a9")) << text.toStdString();
    }
}

TEST(ResponseDecodingTest, HtmlMetaElementWhenTheHeaderSaysNothing)
{
    const DecodeCase cases[] = {
        {"", "<html><head><meta charset=\"utf-8\"></head><body>\xC3\xA9</body></html>",
         u"<html><head><meta charset=\"utf-8\"></head><body>\u00e9</body></html>"},
        {"application/octet-stream",
         "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
         "</head><body>\xC3\xA9</body></html>",
         u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
         u"</head><body>\u00e9</body></html>"},
        {"",
         "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" "
         "content=\"text/html; charset=windows-1252\"></head><body>\x80</body></html>",
         u"<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" "
         u"content=\"text/html; charset=windows-1252\"></head><body>\u20ac</body></html>"},
        {"", "<HTML><HEAD><META CHARSET=\"UTF-8\"></HEAD><BODY>\xC3\xA9</BODY></HTML>",
         u"<HTML><HEAD><META CHARSET=\"UTF-8\"></HEAD><BODY>\u00e9</BODY></HTML>"},
    };
    ExpectDecodings(std::begin(cases), std::end(cases));
}

TEST(ResponseDecodingTest, HowTheMetaElementIsFound)
{
    const DecodeCase cases[] = {
        // Blanks and quotes around the name.
        {"", "<html><meta charset = ' utf-8'>\xC3\xA9", u"<html><meta charset = ' utf-8'>\u00e9"},
        {"", "<html><meta\tcharset=\n\"utf-8\"\r>\xC3\xA9",
         u"<html><meta\tcharset=\n\"utf-8\"\r>\u00e9"},
        // The first meta element naming a set wins; one naming none is passed over.
        {"",
         "<html><meta name=\"author\" content=\"x\"><meta charset=utf-8><meta "
         "charset=windows-1252>\xC3\xA9",
         u"<html><meta name=\"author\" content=\"x\"><meta charset=utf-8><meta "
         u"charset=windows-1252>\u00e9"},
        // Within one element, a "charset" not followed by a name is passed over.
        {"", "<html><meta charset-x=1 content=\"charset=utf-8\">\xC3\xA9",
         u"<html><meta charset-x=1 content=\"charset=utf-8\">\u00e9"},
        // Not a meta element: <metadata>, or a charset outside any element.
        {"", "<html><metadata charset=utf-8>\xC3\xA9",
         u"<html><metadata charset=utf-8>\u00c3\u00a9"},
        {"", "<html><p>charset=utf-8</p>\xC3\xA9", u"<html><p>charset=utf-8</p>\u00c3\u00a9"},
        // An element that never closes names nothing.
        {"", "<html><meta charset=utf-8 \xC3\xA9", u"<html><meta charset=utf-8 \u00c3\u00a9"},
        // A charset beyond the element's end does not count.
        {"", "<html><meta name=x> charset=utf-8 \xC3\xA9",
         u"<html><meta name=x> charset=utf-8 \u00c3\u00a9"},
    };
    ExpectDecodings(std::begin(cases), std::end(cases));

    // Later in the body than a fixed window of the first kilobytes would look.
    const QByteArray late = QByteArray("<html><head><style>") + QByteArray(5000, ' ') +
                            "</style><meta charset=\"utf-8\"></head>\xC3\xA9";
    EXPECT_TRUE(DecodeResponseBody(late, "").endsWith(QChar(0xE9)));
}

TEST(ResponseDecodingTest, AMegabyteOfUnfinishedMetaElementsDecodesAsBytes)
{
    // Each element has "charset=" followed by blanks and no name: the worst
    // case for a search that backtracks over the blanks.
    QByteArray body = "<html>";
    const QByteArray element = "<meta charset=" + QByteArray(4000, ' ') + "!>";
    for (int i = 0; i < 250; ++i)
        body += element;
    body += "\xC3\xA9";
    ASSERT_GT(body.size(), 1000 * 1000);
    EXPECT_EQ(DecodeResponseBody(body, ""), QString::fromLatin1(body));

    // The same, with the set named at the very end.
    body.chop(2);
    body += "<meta charset=\"utf-8\">\xC3\xA9";
    const QString text = DecodeResponseBody(body, "application/octet-stream");
    EXPECT_EQ(text.size(), body.size() - 1);
    EXPECT_TRUE(text.endsWith(QString::fromUtf16(u"<meta charset=\"utf-8\">\u00e9")));
}

TEST(ResponseDecodingTest, OtherwiseOneCharacterPerByte)
{
    const DecodeCase cases[] = {
        {"", "", u""},
        {"", "plain ascii", u"plain ascii"},
        {"", "\x80\xA9\xFF", u"\u0080\u00a9\u00ff"},
        {"application/octet-stream", "\xC3\xA9", u"\u00c3\u00a9"},
        // An unknown set, wherever it is named.
        {"text/plain; charset=x-no-such-set", "\xC3\xA9\x80", u"\u00c3\u00a9\u0080"},
        {"application/xml", "<?xml version=\"1.0\" encoding=\"x-no-such-set\"?><a>\xC3\xA9</a>",
         u"<?xml version=\"1.0\" encoding=\"x-no-such-set\"?><a>\u00c3\u00a9</a>"},
        {"", "<html><head><meta charset=\"x-no-such-set\"></head><body>\x80</body></html>",
         u"<html><head><meta charset=\"x-no-such-set\"></head><body>\u0080</body></html>"},
    };
    ExpectDecodings(std::begin(cases), std::end(cases));
}

TEST(ResponseDecodingTest, SignsComeOutTheSameFromLatin1AndUtf8Answers)
{
    const QString fromLatin1 = DecodeResponseBody("\xA9 2024 Tillora\xAE", "text/plain");
    const QString fromUtf8 =
        DecodeResponseBody("\xC2\xA9 2024 Tillora\xC2\xAE", "text/plain; charset=UTF-8");
    EXPECT_EQ(fromLatin1, QString::fromUtf16(u"\u00a9 2024 Tillora\u00ae"));
    EXPECT_EQ(fromUtf8, fromLatin1);
}
