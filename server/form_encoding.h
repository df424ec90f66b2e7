#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Encodes one text for a form body: space becomes "+", A-Z a-z 0-9 * - . _
// are copied, every other character is written as its UTF-8 bytes in %XX
// form with upper-case hexadecimal digits.
QByteArray EncodeFormText(QStringView text);

// Encodes an ordered field list ("name=value" lines, split at the first "=")
// into a form body, the lines joined with "&".
QByteArray EncodeFormBody(const QStringList& fields);
