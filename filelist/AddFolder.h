// SPDX-License-Identifier: MIT

#pragma once

#include <QCollator>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <chrono>

// The folder scan behind "Add All File(s) In Folder": finds the folders of a tree and the
// matching files in each. GUI-free; the folder chooser lives in filelist/widgets.
//
// Every folder read is a search of its own (Runtime::Dir), so work that runs while the scan
// yields to the event loop, another scan included, never disturbs it. Nothing here throws:
// a folder or entry that cannot be read is skipped.
namespace AddFolder {

// The order a file manager shows names in: by the locale's collation, runs of digits by their
// value ("img2" before "img10"), letter case deciding only between names otherwise equal. Where
// the locale's collator does not compare numbers (the C locale), names are compared character
// by character, letters without regard to case and digit runs by value.
class NameOrder
{
public:
    explicit NameOrder(const QLocale& locale = QLocale());
    bool operator()(const QString& a, const QString& b) const;
    // Sorts `names` in this order; names equal in it keep their order.
    void sort(QStringList& names) const;

private:
    QCollator m_collator;
    bool m_ownNumbers;
};

// Appends to `folders` every folder below its elements, breadth-first: first all folders one
// level below the elements (grouped by parent, in the parents' order, each parent's folders
// in name order, NameOrder), then those two levels below, and so on; with
// `recurse` false only the first level. Every element ends in "/", and so does every path
// appended. Hidden folders (name begins with ".") are neither listed nor entered. Links are
// followed, but a folder already in `folders` or already found is not listed again, so link
// cycles end. Lets the event loop run (Runtime::DoEvents) after the first entry of the first
// folder, then as setYieldInterval() says.
void CollectSubFolders(QStringList& folders, bool recurse);

// The least time between two turns of the event loop while folders are read (2 ms unless
// set). 0 gives a turn after the first entry of every folder and before every further entry.
// Not thread-safe: set it on the GUI thread. Returns the interval it replaces.
std::chrono::microseconds setYieldInterval(std::chrono::microseconds interval);

// The names (no folder) of the files in `folder` that match `pattern`, in name order
// (NameOrder); empty when none match or the folder cannot be read. Hidden files are
// included, folders are not. `pattern` uses "*" and "?", without regard to letter case, and
// "*.*" matches every name. A pattern holding "/" names no file and matches nothing.
QStringList ListFiles(const QString& folder, const QString& pattern);

// `folder` + "/" + `name` with every "//" replaced by "/", left to right, as the folder scan
// forms its entries (so the root "/" and "a.jpg" give "/a.jpg").
QString JoinPath(const QString& folder, const QString& name);

// The whole scan of one click: the entry texts for every file of `folder` and the folders
// below it whose name matches "*." + `extensionText` (used as typed: "*" every file, "jpg"
// also Cat.JPG, ".jpg" as a rule nothing), the chosen folder's files first, then level by
// level. Files whose name begins with "~" are left out. Yields to the event loop as
// CollectSubFolders does, also between the folders it lists.
QStringList FolderEntries(const QString& folder, const QString& extensionText);

} // namespace AddFolder
