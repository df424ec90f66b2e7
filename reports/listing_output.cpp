#include "listing_output.h"

#include "errors.h"
#include "print_dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

namespace {

constexpr QChar FormFeed(12);

// Windows-1252, the US "ANSI" code page: Latin-1 except 0x80-0x9F, which
// hold typographic characters; anything else becomes "?".
char Windows1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    static constexpr char16_t High[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int i = 0; i < 32; ++i)
        if (High[i] != 0 && High[i] == c)
            return char(0x80 + i);
    return '?';
}

} // namespace

QByteArray ListingFileBytes(const QStringList& listing)
{
    QByteArray bytes;
    for (const QString& line : listing) {
        for (qsizetype i = 0; i < line.size(); ++i) {
            const char16_t c = line[i].unicode();
            // One "?" for a character outside the BMP, not one per half.
            if (QChar::isHighSurrogate(c) && i + 1 < line.size() &&
                QChar::isLowSurrogate(line[i + 1].unicode()))
                ++i;
            bytes += Windows1252(c);
        }
        bytes += "\r\n";
    }
    return bytes;
}

void WriteListingFile(const QStringList& listing, const QString& fileName)
{
    const QString path = QDir::current().absoluteFilePath(fileName);
    QSaveFile file(path);
    auto fail = [&](const QString& reason) {
        throw TilloraError(QStringLiteral("Cannot create file \"%1\". %2")
                               .arg(QDir::toNativeSeparators(path), reason));
    };
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        fail(errno ? QString::fromLocal8Bit(std::strerror(errno)) : file.errorString());
    const QByteArray bytes = ListingFileBytes(listing);
    if (file.write(bytes) != bytes.size() || !file.commit())
        fail(file.errorString());
}

void PrintPlainText(QPrinter& printer, const QStringList& lines)
{
    QPainter painter;
    if (!painter.begin(&printer))
        throw TilloraError(QStringLiteral("The printer could not be opened"));

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    painter.setFont(font);
    const QFontMetrics metrics(font, &printer);
    const int lineHeight = metrics.lineSpacing();
    const int tabStop = 8 * metrics.averageCharWidth();
    const QRect area = painter.viewport(); // the printable area, origin at its top left
    const int right = area.width();
    const int bottom = area.height();

    int x = 0;
    int y = 0;
    int pendingPages = 0; // form feeds not yet acted on
    auto newLine = [&] {
        x = 0;
        y += lineHeight;
    };
    auto ensureRoom = [&] {
        // A form feed only turns the page once there is more to print, so
        // the final one ends the document without a blank page.
        for (; pendingPages > 0; --pendingPages) {
            if (!printer.newPage())
                throw TilloraError(QStringLiteral("The printer could not start a new page"));
            x = 0;
            y = 0;
        }
        if (y + lineHeight > bottom && y > 0) {
            if (!printer.newPage())
                throw TilloraError(QStringLiteral("The printer could not start a new page"));
            x = 0;
            y = 0;
        }
    };

    for (const QString& line : lines) {
        bool printedSomething = false;
        for (const QChar c : line) {
            if (c == FormFeed) {
                ++pendingPages;
                x = 0;
                y = 0;
                printedSomething = false;
                continue;
            }
            ensureRoom();
            if (c == u'\t') {
                x = (x / tabStop + 1) * tabStop;
                if (x > right)
                    newLine();
                printedSomething = true;
                continue;
            }
            const int w = metrics.horizontalAdvance(c);
            if (x + w > right && x > 0) {
                newLine();
                ensureRoom();
            }
            painter.drawText(x, y + metrics.ascent(), QString(c));
            x += w;
            printedSomething = true;
        }
        // A line of only a form feed ends there; any other line ends with a
        // line end.
        if (!(line.size() == 1 && line.front() == FormFeed)) {
            // An empty line after a form feed still belongs on the new page.
            if (!printedSomething)
                ensureRoom();
            newLine();
        }
    }
    if (!painter.end())
        throw TilloraError(QStringLiteral("I/O error while printing"));
}

void SaveAndPrintListing(const QStringList& listing, const QString& fileName, QWidget* parent)
{
    WriteListingFile(listing, fileName);
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(fileName);
    if (!PrintDialogs::Exec(printer, parent))
        return;
    QStringList lines = listing;
    lines << QString(FormFeed);
    PrintPlainText(printer, lines);
}
