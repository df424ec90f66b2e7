#pragma once

// Builds list responses the way the server writes them, for tests.

#include <QString>
#include <QStringList>

inline const QChar FieldTerminator(0x00A9);  // ©
inline const QChar RecordTerminator(0x00AE); // ®

// One record: every field followed by "©", then "®".
inline QString ListRecord(const QStringList& fields)
{
    QString out;
    for (const QString& f : fields)
        out += f + FieldTerminator;
    return out + RecordTerminator;
}

// A whole response: the count, "<br>", then the records.
inline QString ListResponse(const QList<QStringList>& records)
{
    QString out = QString::number(records.size()) + QStringLiteral("<br>");
    for (const QStringList& r : records)
        out += ListRecord(r);
    return out;
}
