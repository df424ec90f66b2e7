#include "customer_list_model.h"

#include "text_basics.h"

// Index ids: group rows carry GroupNode; an entry row carries its position.

CustomerListModel::CustomerListModel(QObject* parent) : QAbstractItemModel(parent) {}

void CustomerListModel::setImages(QIcon folderCard, QIcon envelope)
{
    m_images[0] = std::move(folderCard);
    m_images[1] = std::move(envelope);
}

void CustomerListModel::clear()
{
    beginResetModel();
    m_entries.clear();
    m_groups.clear();
    endResetModel();
}

void CustomerListModel::setEntries(std::vector<Entry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    m_groups.clear();
    endResetModel();
}

void CustomerListModel::setGroupedEntries(std::vector<Group> groups, std::vector<Entry> entries)
{
    beginResetModel();
    m_groups = std::move(groups);
    m_entries = std::move(entries);
    m_grouped = true;
    endResetModel();
}

void CustomerListModel::setGroupDisplay(bool on)
{
    if (on == m_grouped)
        return;
    beginResetModel();
    m_grouped = on;
    endResetModel();
}

QString CustomerListModel::caption(int position) const
{
    const Entry& entry = m_entries[std::size_t(position)];
    const QStringView last = m_table->textView(CustomerField::LN, entry.row);
    const QStringView first = m_table->textView(CustomerField::FN, entry.row);
    QString text = (entry.untrimmedCaption ? last : Trim(last)).toString();
    text += u", ";
    text += entry.untrimmedCaption ? first : Trim(first);
    return text;
}

QString CustomerListModel::subItem(int position) const
{
    return QString::number(m_entries[std::size_t(position)].row);
}

QModelIndex CustomerListModel::indexOfPosition(int position) const
{
    if (position < 0 || position >= count())
        return {};
    if (!showsGroups())
        return createIndex(position, 0, quintptr(position));
    const Group& group = m_groups[std::size_t(m_entries[std::size_t(position)].group)];
    return createIndex(position - group.first, 0, quintptr(position));
}

int CustomerListModel::positionOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() == GroupNode)
        return -1;
    return int(index.internalId());
}

QModelIndex CustomerListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column > 1)
        return {};
    if (!showsGroups()) {
        if (parent.isValid() || row >= count())
            return {};
        return createIndex(row, column, quintptr(row));
    }
    if (!parent.isValid())
        return row < int(m_groups.size()) ? createIndex(row, column, GroupNode) : QModelIndex();
    if (parent.internalId() != GroupNode)
        return {};
    const Group& group = m_groups[std::size_t(parent.row())];
    if (row >= group.count)
        return {};
    return createIndex(row, column, quintptr(group.first + row));
}

QModelIndex CustomerListModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || !showsGroups() || child.internalId() == GroupNode)
        return {};
    const std::int32_t group = m_entries[std::size_t(child.internalId())].group;
    return createIndex(group, 0, GroupNode);
}

int CustomerListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    if (!showsGroups())
        return parent.isValid() ? 0 : count();
    if (!parent.isValid())
        return int(m_groups.size());
    return parent.internalId() == GroupNode ? m_groups[std::size_t(parent.row())].count : 0;
}

int CustomerListModel::columnCount(const QModelIndex&) const
{
    return 2;
}

QVariant CustomerListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (index.internalId() == GroupNode) {
        const Group& group = m_groups[std::size_t(index.row())];
        if (role == Qt::DisplayRole && index.column() == 0)
            return group.header;
        if (role == SubtitleRole)
            return group.subtitle;
        return {};
    }
    const int position = int(index.internalId());
    const Entry& entry = m_entries[std::size_t(position)];
    if (role == Qt::DisplayRole)
        return index.column() == 0 ? caption(position) : subItem(position);
    if (role == Qt::DecorationRole && index.column() == 0 && entry.image < 2)
        return m_images[entry.image];
    return {};
}

Qt::ItemFlags CustomerListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // A header, not a customer: disabled, so that the arrow and page keys,
    // the type-ahead and a click pass over it from customer to customer.
    if (index.internalId() == GroupNode)
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
