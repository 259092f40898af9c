// SPDX-License-Identifier: MIT

#pragma once

#include <QTableView>

class ImageEntries;

// The image list: one column "Image File(s)" in report style over its own ImageEntries,
// rows of one fixed height, one entry selectable at a time, nothing editable.
//
// A table rather than a tree view: a tree view lays out every row again at each removal,
// which makes a double click on a list of 100,000 entries cost milliseconds; the table
// keeps its rows in its vertical header, which only shifts a flat array.
class ImageListView : public QTableView
{
    Q_OBJECT

public:
    explicit ImageListView(QWidget* parent = nullptr);

    ImageEntries* entries() const { return m_entries; }

protected:
    void changeEvent(QEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

private:
    void fitRowHeight();

    ImageEntries* m_entries;
};
