// SPDX-License-Identifier: MIT

#include "app/OpenFilesDialog.h"

#include "app/QtDialogs.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <algorithm>

namespace {

// The names in the name field: the whole text, or each "quoted" name when the text holds
// quotes (the form the dialog itself writes for several selected files).
QStringList typedFileNames(const QString& text)
{
    if (!text.contains(QLatin1Char('"')))
        return text.isEmpty() ? QStringList() : QStringList { text };
    QStringList names;
    const QStringList tokens = text.split(QLatin1Char('"'));
    for (qsizetype i = 1; i < tokens.size(); i += 2) // between a pair of quotes
        if (!tokens[i].isEmpty())
            names << tokens[i];
    return names;
}

} // namespace

OpenFilesDialog::OpenFilesDialog(QWidget* parent, const QString& title, const QString& filter)
    : QFileDialog(parent)
{
    // The widget dialog is the one whose file types and name field are ours to shape.
    setOption(QFileDialog::DontUseNativeDialog);
    // The case-blind pattern groups match; the user sees only the names the window gave.
    setOption(QFileDialog::HideNameFilterDetails);
    setWindowTitle(title);
    setAcceptMode(QFileDialog::AcceptOpen);
    // ExistingFiles would refuse a name that names no file, so the dialog runs in AnyFile
    // mode with the views switched back to multi-select.
    setFileMode(QFileDialog::AnyFile);
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>())
        if (view->objectName() == QLatin1String("listView")
            || view->objectName() == QLatin1String("treeView"))
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    setNameFilter(qtFileFilter(filter));
    if (!nameFilters().isEmpty())
        selectNameFilter(nameFilters().constFirst());
}

QStringList OpenFilesDialog::typedPaths() const
{
    const auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!field)
        return {};
    const QDir folder = directory();
    QStringList paths;
    for (QString name : typedFileNames(field->text())) {
        if (name == QLatin1String("~") || name.startsWith(QLatin1String("~/")))
            name = QDir::homePath() + name.mid(1);
        paths << folder.filePath(name);
    }
    return paths;
}

void OpenFilesDialog::accept()
{
    const QStringList typed = typedPaths();
    const bool typedMissing = std::any_of(
        typed.begin(), typed.end(), [](const QString& path) { return !QFileInfo::exists(path); });
    if (typedMissing) {
        m_chosen = typed;
        QDialog::accept();
        return;
    }
    const QStringList files = selectedFiles();
    for (const QString& file : files) {
        if (QFileInfo(file).isDir()) {
            setDirectory(file);
            if (auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                field->clear();
            return;
        }
    }
    if (files.isEmpty())
        return;
    m_chosen = files;
    QDialog::accept();
}
