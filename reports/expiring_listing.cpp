#include "expiring_listing.h"

#include "display_formats.h"
#include "errors.h"
#include "text_basics.h"

namespace {

const QString Separator = QString(63, u'-');
constexpr int FormFeedRow = 75;

// Month/day/year, whatever the machine's locale says.
QDate ReadDate(const QString& text, int currentYear)
{
    const std::optional<QDate> date = ParseShortDate(text, currentYear);
    if (!date)
        throw ConversionError(QStringLiteral("''%1'' is not a valid date").arg(text));
    return *date;
}

struct Bounds
{
    QString start;
    QString end;
};

Bounds QuarterBounds(Quarter quarter, int year)
{
    const QString y = QString::number(year).rightJustified(4, u'0');
    switch (quarter) {
    case Quarter::First:
        return {QStringLiteral("1/1/") + y, QStringLiteral("3/31/") + y};
    case Quarter::Second:
        return {QStringLiteral("4/1/") + y, QStringLiteral("6/30/") + y};
    case Quarter::Third:
        return {QStringLiteral("7/1/") + y, QStringLiteral("9/30/") + y};
    case Quarter::Fourth:
        break;
    }
    return {QStringLiteral("10/1/") + y, QStringLiteral("12/31/") + y};
}

QString T(const TCustomerTable& t, CustomerField f, std::int32_t row)
{
    return Trim(t.textView(f, row)).toString();
}

// The seven lines of one customer; `phone` and `last` differ between lists.
void AppendEntry(QStringList& listing, const TCustomerTable& t, std::int32_t row,
                 const QString& phone, const QString& last)
{
    listing << QString();
    listing << T(t, CustomerField::FN, row) + u' ' + T(t, CustomerField::LN, row);
    listing << T(t, CustomerField::AD, row);
    listing << T(t, CustomerField::CY, row) + QStringLiteral(", ") + T(t, CustomerField::ST, row) +
                   QStringLiteral("  ") + T(t, CustomerField::ZP, row);
    listing << phone;
    listing << last;
    listing << Separator;
}

} // namespace

Quarter QuarterOf(QDate date)
{
    const int y = date.year();
    if (date >= QDate(y, 1, 1) && date <= QDate(y, 3, 31))
        return Quarter::First;
    if (date >= QDate(y, 4, 1) && date <= QDate(y, 6, 30))
        return Quarter::Second;
    if (date >= QDate(y, 7, 1) && date <= QDate(y, 9, 30))
        return Quarter::Third;
    return Quarter::Fourth;
}

QStringList BuildExpiringListing(const TCustomerTable& t, Quarter quarter, QDate today)
{
    const int year = today.year();
    const Bounds bounds = QuarterBounds(quarter, year);
    const QDate start = ReadDate(bounds.start, year);
    const QDate end = ReadDate(bounds.end, year);

    QStringList main = {QString(),
                        QStringLiteral("Listing Of Clients With Expiring Subscriptions")};
    QStringList missing = {QStringLiteral("Listing Of Clients Without Anniversary Date")};

    for (std::int32_t row = 0; row < t.CustomerCount(); ++row) {
        const QString a = T(t, CustomerField::ANI, row);
        const QString y = a.mid(0, 4);
        const QString m = a.mid(5, 2);
        const QString d = a.mid(8, 2);
        if (y == QStringLiteral("0000") || m == QStringLiteral("00") || d == QStringLiteral("00")) {
            AppendEntry(missing, t, row,
                        Trim(FormatPhone(t.textView(CustomerField::P1, row))).toString(),
                        QStringLiteral("ERROR ANNIVERSARY DATE: ") + a);
            continue;
        }
        const QDate anniversary = ReadDate(m + u'/' + d + u'/' + y, year);
        if (row == FormFeedRow)
            main << QString(QChar(12));
        if (t.ACT(row) == 1 && anniversary >= start && anniversary <= end)
            AppendEntry(main, t, row, FormatPhone(Trim(t.textView(CustomerField::P1, row))),
                        QStringLiteral("SUBSCRIPTION EXPIRES\t") + ShortDateText(anniversary));
    }
    main << QStringLiteral("End of List") << QString() << QString();
    main << missing;
    return main;
}
