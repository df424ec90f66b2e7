#include "table_dump.h"

QString EscapeField(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += u"\\\\";
            break;
        case u'\t':
            out += u"\\t";
            break;
        case u'\r':
            out += u"\\r";
            break;
        case u'\n':
            out += u"\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString DumpTable(const TCustomerTable& table)
{
    QString out = QString::number(table.CustomerCount()) + u'\n';
    for (std::int32_t row = 0; row < table.CustomerCount(); ++row) {
        out += QString::number(table.ID(row));
        for (int column = int(CustomerField::LN); column < int(CustomerField::ACT); ++column)
            out += u'\t' + EscapeField(table.textView(CustomerField(column), row));
        out += u'\t' + QString::number(table.ACT(row)) + u'\n';
    }
    return out;
}

QString DumpTable(const TCallTable& table)
{
    QString out = QString::number(table.CallCount()) + u'\n';
    for (std::int32_t row = 0; row < table.CallCount(); ++row) {
        out +=
            QString::number(table.CallID(row)) + u'\t' + QString::number(table.CallCustomerID(row));
        for (const QString& text : {table.CallTag1(row), table.CallTag2(row), table.CallDate(row),
                                    table.CallTime(row), table.CallText(row)})
            out += u'\t' + EscapeField(text);
        out += u'\n';
    }
    return out;
}
