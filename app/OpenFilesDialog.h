// SPDX-License-Identifier: MIT

#pragma once

#include <QFileDialog>

// The "Add Image File(s)" dialog: several files at once, file types shown by their names
// alone, and a typed name that names no file taken as typed. QtDialogs runs it modally;
// tests show it without blocking and read chosenFiles().
class OpenFilesDialog : public QFileDialog
{
public:
    // `filter` in the "description|patterns|..." form of Dialogs::openFiles.
    OpenFilesDialog(QWidget* parent, const QString& title, const QString& filter);

    // Full paths in the dialog's order once it was accepted; empty before and on Cancel.
    QStringList chosenFiles() const { return m_chosen; }

    void accept() override;

private:
    QStringList typedPaths() const;

    QStringList m_chosen;
};
