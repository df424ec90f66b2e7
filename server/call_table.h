#pragma once

#include "list_builder.h"
#include "text_rows.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

// The call log as loaded from the server: seven columns by row, in the
// server's order. CallCustomerID matches the ID column of TCustomerTable.
class TCallTable
{
public:
    enum TextColumn : int
    {
        CallTag1Column,
        CallTag2Column,
        CallDateColumn,
        CallTimeColumn,
        CallTextColumn,
        TextColumnCount
    };

    TCallTable() = default;

    std::int32_t CallCount() const { return std::int32_t(m_callId.size()); }

    std::int32_t CallID(std::int32_t row) const { return m_callId[std::size_t(row)]; }
    std::int32_t CallCustomerID(std::int32_t row) const
    {
        return m_callCustomerId[std::size_t(row)];
    }
    // The rows of one customer's calls, in table order.
    std::vector<std::int32_t> RowsOfCustomer(std::int32_t customerId) const;
    QString CallTag1(std::int32_t row) const { return m_text.at(row, CallTag1Column); }
    QString CallTag2(std::int32_t row) const { return m_text.at(row, CallTag2Column); }
    QString CallDate(std::int32_t row) const { return m_text.at(row, CallDateColumn); }
    QString CallTime(std::int32_t row) const { return m_text.at(row, CallTimeColumn); }
    QString CallText(std::int32_t row) const { return m_text.at(row, CallTextColumn); }

    class Builder;

    // Parses a whole call list response into a new table, with the errors of
    // Builder::take().
    static TCallTable Parse(QStringView response);

    // Heap bytes the loaded table holds.
    qsizetype memoryBytes() const;

private:
    std::vector<std::int32_t> m_callId;
    std::vector<std::int32_t> m_callCustomerId;
    TextRows m_text{TextColumnCount};
};

// Builds a table from a call list response while its text arrives (see
// ListBuilder). The caller's current table is never touched, so a
// failure loses nothing.
class TCallTable::Builder : public ListBuilder
{
public:
    Builder();
    // The finished table. Raises ConversionError for a bad count or the
    // first record it cannot read and RangeCheckError for a negative
    // count.
    TCallTable take();

private:
    void reserveRows(qsizetype rows) override;
    void cutRecord(QStringView record) override;
    void cutByteRecord(const ByteFields& fields) override;
    TCallTable m_table;
};
