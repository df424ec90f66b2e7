#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QPrinter;
class QWidget;

// A listing is a list of text lines; a line may hold tabs, and a line of a
// single form feed starts a new page on paper.

// The listing file's bytes: every line followed by CR LF, in Windows-1252,
// a character it cannot hold written as "?".
QByteArray ListingFileBytes(const QStringList& listing);

// Writes the file in the working directory. A temporary file is renamed over
// the old one, so a failed write leaves the last good listing in place.
// Raises "Cannot create file "<full path>". <reason>".
void WriteListingFile(const QStringList& listing, const QString& fileName);

// Prints the lines as plain text from the top left of the printable area in
// a fixed-pitch font: automatic page breaks, a page break at each form feed,
// tab stops every eight average character widths, overlong lines continued
// on the next line.
void PrintPlainText(QPrinter& printer, const QStringList& lines);

// Saves the listing, then offers it for printing through the print dialog,
// ended by one more form-feed line (which ends the page, with no blank page
// after it). Cancelling the dialog prints nothing; the file stays written.
void SaveAndPrintListing(const QStringList& listing, const QString& fileName,
                         QWidget* parent = nullptr);
