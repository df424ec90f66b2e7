#include "customer_list_model.h"

#include "text_basics.h"

CustomerListModel::CustomerListModel(QObject* parent) : QAbstractItemModel(parent) {}

void CustomerListModel::setImages(QIcon folderCard, QIcon envelope)
{
    m_images[0] = std::move(folderCard);
    m_images[1] = std::move(envelope);
}

void CustomerListModel::clear()
{
    setEntries({});
}

void CustomerListModel::setEntries(std::vector<Entry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

QString CustomerListModel::caption(int position) const
{
    const std::int32_t row = m_entries[std::size_t(position)].row;
    QString text = Trim(m_table->textView(CustomerField::LN, row)).toString();
    text += u", ";
    text += Trim(m_table->textView(CustomerField::FN, row));
    return text;
}

QModelIndex CustomerListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= count() || column < 0 || column > 1)
        return {};
    return createIndex(row, column);
}

QModelIndex CustomerListModel::parent(const QModelIndex&) const
{
    return {};
}

int CustomerListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

int CustomerListModel::columnCount(const QModelIndex&) const
{
    return 2;
}

QVariant CustomerListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const Entry& entry = m_entries[std::size_t(index.row())];
    if (role == Qt::DisplayRole)
        return index.column() == 0 ? caption(index.row()) : subItem(index.row());
    if (role == Qt::DecorationRole && index.column() == 0 && entry.image < 2)
        return m_images[entry.image];
    return {};
}
