#pragma once

#include "list_builder.h"
#include "text_rows.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <vector>

// The 21 fields of a customer record, in the order they arrive.
enum class CustomerField : int
{
    ID,
    LN,
    FN,
    BN,
    AD,
    CY,
    ST,
    ZP,
    P1,
    P2,
    EM,
    HO,
    DV,
    SN,
    PK,
    PM,
    BD,
    DD,
    ANI,
    PD,
    ACT
};
inline constexpr int CustomerFieldCount = 21;

// The count header of a list response: the announced number of records and
// where the records begin.
struct CountHeader
{
    std::int32_t count = 0;
    qsizetype recordsStart = 0;
};

// The customer list as loaded from the server: 21 columns by row, in the
// server's order. ID and ACT are integers; the other 19 columns hold each
// field exactly as cut from its record, blanks included.
class TCustomerTable
{
public:
    // Runs after each row is complete, with the table being built.
    using RowStep = std::function<void(const TCustomerTable& table, std::int32_t row)>;

    TCustomerTable() = default;

    std::int32_t CustomerCount() const { return std::int32_t(m_id.size()); }
    // Different for every table built (copies share it): what was worked out
    // from one table is known to hold for another with the same number.
    std::uint64_t generation() const { return m_generation; }

    std::int32_t ID(std::int32_t row) const { return m_id[std::size_t(row)]; }
    std::int32_t ACT(std::int32_t row) const { return m_act[std::size_t(row)]; }
    // Any of the 19 text columns (not ID or ACT).
    QString text(CustomerField column, std::int32_t row) const;
    QStringView textView(CustomerField column, std::int32_t row) const
    {
        return m_text.view(row, int(column) - 1);
    }
    // All text columns of all rows, end to end, for whole-table scans, and
    // the field a character of it belongs to.
    QStringView allText() const { return m_text.allText(); }
    struct TextPlace
    {
        std::int32_t row;
        CustomerField column;
        qsizetype end; // where the field ends in allText()
    };
    TextPlace placeOf(qsizetype offset) const
    {
        const TextRows::Place place = m_text.placeOf(offset);
        return {std::int32_t(place.index / m_text.fieldsPerRow()),
                CustomerField(place.index % m_text.fieldsPerRow() + 1), place.end};
    }

    QString LN(std::int32_t row) const { return text(CustomerField::LN, row); }
    QString FN(std::int32_t row) const { return text(CustomerField::FN, row); }
    QString BN(std::int32_t row) const { return text(CustomerField::BN, row); }
    QString AD(std::int32_t row) const { return text(CustomerField::AD, row); }
    QString CY(std::int32_t row) const { return text(CustomerField::CY, row); }
    QString ST(std::int32_t row) const { return text(CustomerField::ST, row); }
    QString ZP(std::int32_t row) const { return text(CustomerField::ZP, row); }
    QString P1(std::int32_t row) const { return text(CustomerField::P1, row); }
    QString P2(std::int32_t row) const { return text(CustomerField::P2, row); }
    QString EM(std::int32_t row) const { return text(CustomerField::EM, row); }
    QString HO(std::int32_t row) const { return text(CustomerField::HO, row); }
    QString DV(std::int32_t row) const { return text(CustomerField::DV, row); }
    QString SN(std::int32_t row) const { return text(CustomerField::SN, row); }
    QString PK(std::int32_t row) const { return text(CustomerField::PK, row); }
    QString PM(std::int32_t row) const { return text(CustomerField::PM, row); }
    QString BD(std::int32_t row) const { return text(CustomerField::BD, row); }
    QString DD(std::int32_t row) const { return text(CustomerField::DD, row); }
    QString ANI(std::int32_t row) const { return text(CustomerField::ANI, row); }
    QString PD(std::int32_t row) const { return text(CustomerField::PD, row); }

    // Reads the count before the first "<br>" of a list response. Raises
    // ConversionError when there is no "<br>" or the count is not an integer.
    static CountHeader ReadCountHeader(QStringView response);

    class Builder;

    // Parses `count` records from the text after the count header into a new
    // table, running `step` after each row, with the errors of
    // Builder::take().
    static TCustomerTable ParseRecords(QStringView records, std::int32_t count,
                                       const RowStep& step = {});

    // Both steps on a whole response.
    static TCustomerTable Parse(QStringView response, const RowStep& step = {});

    // Heap bytes the loaded table holds.
    qsizetype memoryBytes() const;

private:
    std::uint64_t m_generation = 0;
    std::vector<std::int32_t> m_id;
    std::vector<std::int32_t> m_act;
    TextRows m_text{CustomerFieldCount - 2};
};

// Builds a table from a list response while its text arrives (see
// ListBuilder). The caller's current table is never touched, so a
// failure loses nothing.
class TCustomerTable::Builder : public ListBuilder
{
public:
    // From a whole response: the count, then the records. `step` runs
    // after each row.
    explicit Builder(RowStep step = {});
    // From the records after a count already read.
    explicit Builder(std::int32_t count, RowStep step = {});

    // The finished table. Raises the count's error, RangeCheckError for
    // a negative count, or ConversionError for the first record it
    // cannot read.
    TCustomerTable take();

private:
    void reserveRows(qsizetype rows) override;
    void cutRecord(QStringView record) override;
    void cutByteRecord(const ByteFields& fields) override;
    TCustomerTable m_table;
    RowStep m_step;
};
