#pragma once

#include "customer_table.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <cstdint>
#include <vector>

// The entries of the customer list: one per shown customer, in the order
// they were added. An entry is just its row in the customer table, its image
// and, in the grouped view, its group; the caption (last name, ", ", first
// name) and the first sub-item (the row as decimal text, in the unseen second
// column) are read from the table when shown, so a list of 100,000 customers
// costs a few bytes per entry.
//
// With group display on, the groups are the top level and each holds the
// entries filed under it; the entries keep their positions in adding order.
class CustomerListModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    static constexpr std::uint8_t NoImage = 0xFF;

    struct Entry
    {
        std::int32_t row;
        std::uint8_t image;
        bool untrimmedCaption = false; // the grouped view shows names as stored
        std::int32_t group = -1;
    };

    struct Group
    {
        QString header;
        QString subtitle;
        int first = 0; // position of its first entry
        int count = 0;
    };

    // The model's own role for a group row's subtitle.
    static constexpr int SubtitleRole = Qt::UserRole + 1;

    explicit CustomerListModel(QObject* parent = nullptr);

    // The table the entries point into; it must outlive the entries.
    void setTable(const TCustomerTable* table) { m_table = table; }
    void setImages(QIcon folderCard, QIcon envelope);

    void clear();
    void setEntries(std::vector<Entry> entries);
    // Entries filed group by group; turns group display on.
    void setGroupedEntries(std::vector<Group> groups, std::vector<Entry> entries);
    void setGroupDisplay(bool on);
    bool groupDisplay() const { return m_grouped; }

    const std::vector<Entry>& entries() const { return m_entries; }
    const std::vector<Group>& groups() const { return m_groups; }
    int count() const { return int(m_entries.size()); }

    QString caption(int position) const;
    QString subItem(int position) const;

    // Between entry positions and the model's indexes (column 0).
    QModelIndex indexOfPosition(int position) const;
    int positionOf(const QModelIndex& index) const; // -1 for a group row

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    static constexpr quintptr GroupNode = ~quintptr(0);
    bool showsGroups() const { return m_grouped && !m_groups.empty(); }

    const TCustomerTable* m_table = nullptr;
    std::vector<Entry> m_entries;
    std::vector<Group> m_groups;
    bool m_grouped = false;
    QIcon m_images[2];
};
