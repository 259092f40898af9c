// SPDX-License-Identifier: MIT

#include "app/QtDialogs.h"

#include "app/OpenFilesDialog.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace {

QString caseless(const QString& pattern)
{
    if (pattern == QLatin1String("*.*"))
        return QStringLiteral("*");
    QString out;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

} // namespace

QString qtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList types;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << caseless(p.trimmed());
        types << parts[i] + QLatin1String(" (") + patterns.join(QLatin1Char(' '))
                + QLatin1Char(')');
    }
    return types.join(QLatin1String(";;"));
}

QStringList QtDialogs::openFiles(QWidget* parent, const QString& title, const QString& filter)
{
    OpenFilesDialog dialog(parent, title, filter);
    return dialog.exec() == QDialog::Accepted ? dialog.chosenFiles() : QStringList();
}

QString QtDialogs::chooseFolder(QWidget* parent, const QString& title)
{
    return QFileDialog::getExistingDirectory(parent, title);
}

QString QtDialogs::inputBox(
    QWidget* parent, const QString& prompt, const QString& title, const QString& defaultText)
{
    bool ok = false;
    const QString text
        = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

Dialogs::Answer QtDialogs::msgBox(
    QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title)
{
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(icon == Icon::Critical ? QMessageBox::Critical
            : icon == Icon::Question   ? QMessageBox::Question
                                       : QMessageBox::NoIcon);
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}
