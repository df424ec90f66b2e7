#include "write_requests.h"

#include "text_basics.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace {

constexpr QChar FieldTerminator(0x00A9);

// The most of a server's explanation shown in an error box.
constexpr qsizetype MostExplanationChars = 600;

} // namespace

QString NewRequestId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
}

QString CanonicalRecord(const TCustomerTable& table, std::int32_t row)
{
    QString text = QString::number(table.ID(row));
    for (int column = int(CustomerField::LN); column <= int(CustomerField::PD); ++column) {
        text += FieldTerminator;
        text += table.textView(CustomerField(column), row);
    }
    text += FieldTerminator;
    text += QString::number(table.ACT(row));
    return text;
}

QString RowDigest(const TCustomerTable& table, std::int32_t row)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(CanonicalRecord(table, row).toUtf8(), QCryptographicHash::Sha256)
            .toHex());
}

std::optional<ChangedRow> ReadChangedRow(const QString& answer)
{
    const qsizetype lineEnd = answer.indexOf(u'\n');
    if (lineEnd < 0)
        return std::nullopt;
    const QStringView record = QStringView(answer).sliced(lineEnd + 1);
    if (!record.contains(FieldTerminator))
        return std::nullopt;
    try {
        return ChangedRow{Trim(QStringView(answer).first(lineEnd)).toString(),
                          TCustomerTable::ParseRecords(record, 1)};
    } catch (const TilloraError&) {
        return std::nullopt; // not a record: a refusal of another kind
    }
}

QString PostWrite(HttpClient& client, const QString& address, const QStringList& fields)
{
    try {
        return client.Post(address, fields);
    } catch (const RequestAbandoned&) {
        throw;
    } catch (const TilloraError& e) {
        const auto* status = dynamic_cast<const HttpStatusError*>(&e);
        if ((status && status->status() == 409) || !client.wholeRequestSent())
            throw;
        throw WriteMayBeStored(e.message() +
                               QStringLiteral("\n\nThe whole request had reached the server, so "
                                              "it may have been stored all the same"));
    }
}

TilloraError RefusedWrite(const HttpStatusError& refusal)
{
    QString explanation = Trim(refusal.body()).toString();
    if (explanation.size() > MostExplanationChars)
        explanation = explanation.first(MostExplanationChars) + QStringLiteral("…");
    return TilloraError(explanation.isEmpty() ? refusal.message()
                                              : refusal.message() + u'\n' + explanation);
}
