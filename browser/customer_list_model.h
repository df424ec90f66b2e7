#pragma once

#include "customer_table.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <cstdint>
#include <vector>

// The entries of the customer list: one per shown customer, in the order
// they were added. An entry is just its row in the customer table and its
// image; the caption (last name, ", ", first name, both trimmed) and the
// first sub-item (the row as decimal text, in the hidden second column) are
// read from the table when shown, so a list of 100,000 customers costs a few
// bytes per entry.
class CustomerListModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    struct Entry
    {
        std::int32_t row;
        std::uint8_t image;
    };

    explicit CustomerListModel(QObject* parent = nullptr);

    // The table the entries point into; it must outlive the entries.
    void setTable(const TCustomerTable* table) { m_table = table; }
    void setImages(QIcon folderCard, QIcon envelope);

    void clear();
    void setEntries(std::vector<Entry> entries);
    const std::vector<Entry>& entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }

    QString caption(int position) const;
    QString subItem(int position) const { return QString::number(m_entries[std::size_t(position)].row); }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const TCustomerTable* m_table = nullptr;
    std::vector<Entry> m_entries;
    QIcon m_images[2];
};
