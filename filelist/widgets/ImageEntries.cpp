// SPDX-License-Identifier: MIT

#include "filelist/widgets/ImageEntries.h"

ImageEntries::ImageEntries(QObject* parent)
    : QAbstractListModel(parent)
{
}

int ImageEntries::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant ImageEntries::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_texts.at(index.row());
    return {};
}

QVariant ImageEntries::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return tr("Image File(s)");
    return {};
}

Qt::ItemFlags ImageEntries::flags(const QModelIndex& index) const
{
    // Not editable and no drag of their own; ItemNeverHasChildren spares the view a look for
    // children at every row it lays out.
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

void ImageEntries::append(const QStringList& texts)
{
    if (texts.isEmpty())
        return;
    beginInsertRows({}, count(), count() + int(texts.size()) - 1);
    m_texts += texts;
    endInsertRows();
}

void ImageEntries::setText(int row, const QString& text)
{
    m_texts[row] = text;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, { Qt::DisplayRole, Qt::EditRole });
}

void ImageEntries::removeAt(int row)
{
    beginRemoveRows({}, row, row);
    m_texts.removeAt(row);
    endRemoveRows();
}
