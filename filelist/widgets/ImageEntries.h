// SPDX-License-Identifier: MIT

#pragma once

#include <QAbstractListModel>
#include <QStringList>

// The texts of the image list's entries, in order, under the one header column
// "Image File(s)". A flat model: the view never asks a row for children.
class ImageEntries : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ImageEntries(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int count() const { return int(m_texts.size()); }
    const QStringList& texts() const { return m_texts; }
    QString text(int row) const { return m_texts.at(row); }

    // Appends `texts` at the end in one insertion.
    void append(const QStringList& texts);
    void setText(int row, const QString& text);
    void removeAt(int row);

private:
    QStringList m_texts;
};
