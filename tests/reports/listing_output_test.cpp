// The listing file's bytes and plain-text printing, read back from a PDF.

#include "errors.h"
#include "listing_output.h"
#include "poppler.h"
#include "print_dialogs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>

namespace {

using namespace Qt::StringLiterals;

int PageCount(const QString& pdf)
{
    const QString info = QString::fromUtf8(Poppler(u"pdfinfo"_s, {pdf}));
    for (const QString& line : info.split(u'\n'))
        if (line.startsWith(u"Pages:"))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// The text of each page, blank lines dropped.
QList<QStringList> PageTexts(const QString& pdf)
{
    QList<QStringList> pages;
    for (const QString& page :
         QString::fromUtf8(Poppler(u"pdftotext"_s, {u"-layout"_s, pdf, u"-"_s})).split(u'\f')) {
        QStringList lines;
        for (const QString& line : page.split(u'\n'))
            if (!line.trimmed().isEmpty())
                lines << line.trimmed();
        pages << lines;
    }
    while (!pages.isEmpty() && pages.back().isEmpty())
        pages.removeLast();
    return pages;
}

TEST(ListingFileTest, CrLfLinesInWindows1252)
{
    const QStringList listing = {u""_s, u"A\tB"_s, QString(QChar(12)), u"€ é ā 😀"_s};
    const QByteArray expected = QByteArray("\r\nA\tB\r\n\f\r\n") + "\x80 \xE9 ? ?\r\n";
    EXPECT_EQ(ListingFileBytes(listing), expected);
    EXPECT_EQ(ListingFileBytes({}), QByteArray());
}

TEST(ListingFileTest, OverwritesAndReportsWhatCannotBeCreated)
{
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));

    WriteListingFile({u"first"_s, u"listing"_s}, u"Expiring_2.txt"_s);
    WriteListingFile({u"second"_s}, u"Expiring_2.txt"_s);
    QFile file(dir.filePath(u"Expiring_2.txt"_s));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("second\r\n"));

    // A folder in the file's place: the error names the full path.
    QDir(dir.path()).mkdir(u"Blocked.txt"_s);
    try {
        WriteListingFile({u"x"_s}, u"Blocked.txt"_s);
        ADD_FAILURE() << "no error";
    } catch (const TilloraError& e) {
        EXPECT_TRUE(e.message().startsWith(u"Cannot create file \""_s +
                                           dir.filePath(u"Blocked.txt"_s) + u"\". "_s))
            << e.message().toStdString();
    }
    QDir::setCurrent(old);
}

TEST(PlainTextPrintTest, PagesFollowFormFeedsWithoutATrailingBlankPage)
{
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString pdf = dir.filePath(u"out.pdf"_s);

    QStringList listing = {u"Heading"_s, u"first page"_s, QString(QChar(12)),
                           u""_s,        u""_s,           u"second page"_s};
    listing << QString(300, u'x'); // continues on the next line
    for (int i = 0; i < 100; ++i)
        listing << u"row %1"_s.arg(i); // runs onto a further page by itself

    PrintDialogs::SetHook([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    SaveAndPrintListing(listing, u"Listing.txt"_s);
    PrintDialogs::SetHook({});

    const QList<QStringList> pages = PageTexts(pdf);
    ASSERT_GE(pages.size(), 3);
    EXPECT_EQ(PageCount(pdf), pages.size()); // the final form feed adds no blank page
    EXPECT_EQ(pages[0], (QStringList{u"Heading"_s, u"first page"_s}));
    // Blank lines after the form feed are kept: the next text is not at the top.
    const QString bbox = QString::fromUtf8(Poppler(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s}));
    const auto yOf = [&](const QString& word) {
        const qsizetype at = bbox.indexOf(u">"_s + word + u"<"_s);
        const qsizetype y = bbox.lastIndexOf(u"yMin=\""_s, at);
        return bbox.mid(y + 6, bbox.indexOf(u'"', y + 6) - y - 6).toDouble();
    };
    EXPECT_GT(yOf(u"second"_s), yOf(u"Heading"_s) + 1);
    EXPECT_EQ(pages[1][0], u"second page");
    EXPECT_TRUE(pages[1][1].startsWith(u"xxxx"));
    EXPECT_TRUE(pages[1][2].startsWith(u"xxxx")) << "an overlong line continues";
    EXPECT_EQ(pages.back().back(), u"row 99");
    // Every row printed once, in order.
    QStringList rows;
    for (const QStringList& page : pages)
        for (const QString& line : page)
            if (line.startsWith(u"row "))
                rows << line;
    ASSERT_EQ(rows.size(), 100);
    EXPECT_EQ(rows.front(), u"row 0");

    // Cancelling the dialog prints nothing; the file is written all the same.
    QFile::remove(pdf);
    PrintDialogs::SetHook([](QPrinter&) { return false; });
    SaveAndPrintListing({u"kept"_s}, u"Cancelled.txt"_s);
    PrintDialogs::SetHook({});
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_TRUE(QFile::exists(dir.filePath(u"Cancelled.txt"_s)));
    QDir::setCurrent(old);
}

} // namespace
