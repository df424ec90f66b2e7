#pragma once

#include <QByteArray>
#include <QString>

// Turns a response body into text by the first character set that applies:
// the one declared inside an XML body of an XML media type, the charset
// parameter of the Content-Type, US-ASCII or ISO-8859-1 for text types
// without one, the one named by an HTML meta element, and otherwise (or when
// the named set is unknown) one character per byte.
QString DecodeResponseBody(const QByteArray& body, const QByteArray& contentType);
