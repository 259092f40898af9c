// SPDX-License-Identifier: MIT

#include "filelist/AddFolder.h"

#include "runtime/Logging.h"
#include "runtime/Runtime.h"

#include <QFile>
#include <algorithm>
#include <chrono>
#include <optional>
#include <sys/stat.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace AddFolder {

namespace {

std::chrono::microseconds yieldInterval { 2000 };

// Lets the event loop run: once at the first folder when `turnAtFirst`, then whenever the
// interval has passed, checked at the start of every folder and every few entries. A turn of the
// loop costs tens of microseconds, so a turn per entry (or even per folder) would take longer than
// reading a tree of thousands of small folders; the window still answers well within a frame.
class Yielder
{
public:
    explicit Yielder(bool turnAtFirst)
        : m_first(turnAtFirst)
    {
    }

    void atFolderStart()
    {
        if (m_first || Clock::now() - m_last >= yieldInterval)
            now();
    }

    void atEntry()
    {
        if (yieldInterval.count() == 0
            || (++m_entries % 16 == 0 && Clock::now() - m_last >= yieldInterval))
            now();
    }

private:
    using Clock = std::chrono::steady_clock;

    void now()
    {
        Runtime::DoEvents();
        m_first = false;
        m_last = Clock::now();
    }

    bool m_first;
    unsigned m_entries = 0;
    Clock::time_point m_last = Clock::now();
};

// Folders are told apart by device and inode, so a link or a bind mount that leads back into
// the tree is recognised whatever path it is reached by.
class VisitedFolders
{
public:
    // True when `path` is a folder not seen before; false for one seen before or one that
    // cannot be examined (which could not be read either).
    bool insert(const QString& path)
    {
        struct stat st;
        if (stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
        return m_seen.insert(Key { st.st_dev, st.st_ino }).second;
    }

private:
    struct Key
    {
        dev_t device;
        ino_t inode;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key& k) const noexcept
        {
            return std::hash<unsigned long long>()(k.inode) * 31u
                + std::hash<unsigned long long>()(k.device);
        }
    };
    std::unordered_set<Key, KeyHash> m_seen;
};

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// A text whose plain order is the name's order with letters folded to one case and each run
// of digits by its value: the run becomes "0", its length without leading zeros, and those
// digits. As every other character lies below "0" or above "9", the run meets them as its
// digits would.
QString naturalKey(const QString& name)
{
    QString key;
    key.reserve(name.size() + 4);
    for (qsizetype i = 0; i < name.size();) {
        if (!isAsciiDigit(name[i])) {
            key += QChar(QChar::toCaseFolded(name[i].unicode()));
            ++i;
            continue;
        }
        while (i < name.size() && name[i] == QLatin1Char('0'))
            ++i;
        qsizetype end = i;
        while (end < name.size() && isAsciiDigit(name[end]))
            ++end;
        key += QLatin1Char('0');
        key += QChar(char16_t(std::min<qsizetype>(end - i, 0xffff)));
        key += QStringView(name).sliced(i, end - i);
        i = end;
    }
    return key;
}

bool isDotOrDotDot(const QString& name)
{
    return name == QLatin1String(".") || name == QLatin1String("..");
}

} // namespace

NameOrder::NameOrder(const QLocale& locale)
    : m_collator(locale)
{
    // The default strength compares case only where nothing else differs.
    m_collator.setNumericMode(true);
    // Qt's collator for the C locale, and one built without ICU, leave numbers as text.
    m_ownNumbers = m_collator.compare(QStringLiteral("2"), QStringLiteral("10")) >= 0;
}

bool NameOrder::operator()(const QString& a, const QString& b) const
{
    const int order
        = m_ownNumbers ? naturalKey(a).compare(naturalKey(b)) : m_collator.compare(a, b);
    // Names the collation finds equal ("p01" and "p1", or differing only in case where case
    // is ignored) still get one order, so that a listing never depends on the file system.
    return order != 0 ? order < 0 : a < b;
}

void NameOrder::sort(QStringList& names) const
{
    if (names.size() < 2)
        return;
    // One key per name: comparing names anew at every step of the sort took seconds for a
    // folder of 100,000 files.
    struct Keyed
    {
        QString name;
        QString natural;
        std::optional<QCollatorSortKey> collated;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(names.size()));
    for (QString& name : names) {
        Keyed entry { std::move(name), {}, std::nullopt };
        if (m_ownNumbers)
            entry.natural = naturalKey(entry.name);
        else
            entry.collated = m_collator.sortKey(entry.name);
        keyed.push_back(std::move(entry));
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        const int order
            = a.collated ? a.collated->compare(*b.collated) : a.natural.compare(b.natural);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[size_t(i)].name);
}

void CollectSubFolders(QStringList& folders, bool recurse)
{
    VisitedFolders visited;
    for (const QString& folder : folders)
        visited.insert(folder);

    QStringList found;
    const NameOrder order;
    Yielder yielder(true);
    // Reads one folder to its end before the next is opened; `parent` ends in "/".
    const auto readFolder = [&](const QString& parent) {
        Runtime::Dir dir(parent, Runtime::vbDirectory);
        QString name = dir.next();
        yielder.atFolderStart();
        QStringList names;
        for (; !name.isEmpty(); name = dir.next()) {
            yielder.atEntry();
            if (!isDotOrDotDot(name) && dir.lastIsFolder())
                names.append(name);
        }
        order.sort(names);
        for (const QString& folderName : names) {
            QString path = parent + folderName + QLatin1Char('/');
            if (visited.insert(path))
                found.append(std::move(path));
        }
    };

    for (qsizetype i = 0, n = folders.size(); i < n; ++i)
        readFolder(QString(folders.at(i)));
    // `found` doubles as the queue of the levels below: appending while walking it gives the
    // breadth-first order level by level.
    if (recurse) {
        for (qsizetype i = 0; i < found.size(); ++i)
            readFolder(QString(found.at(i)));
    }
    folders.append(found);
}

std::chrono::microseconds setYieldInterval(std::chrono::microseconds interval)
{
    return std::exchange(yieldInterval, interval);
}

QStringList ListFiles(const QString& folder, const QString& pattern)
{
    QStringList names;
    // A "/" would make the search read another folder than `folder`.
    if (pattern.contains(QLatin1Char('/')) || pattern.contains(QChar(0)))
        return names;
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    Runtime::Dir dir(path + pattern, Runtime::vbHidden | Runtime::vbSystem);
    for (QString name = dir.next(); !name.isEmpty(); name = dir.next())
        names.append(name);
    NameOrder().sort(names);
    return names;
}

QString JoinPath(const QString& folder, const QString& name)
{
    QString path = folder + QLatin1Char('/') + name;
    path.replace(QLatin1String("//"), QLatin1String("/"));
    return path;
}

QStringList FolderEntries(const QString& folder, const QString& extensionText)
{
    QStringList folders { folder + QLatin1Char('/') };
    CollectSubFolders(folders, true);

    const QString pattern = QStringLiteral("*.") + extensionText;
    QStringList entries;
    // The entries go into the list only at the end, so turns of the event loop here cannot
    // split them; they keep the window answering while a huge tree is listed.
    Yielder yielder(false);
    for (const QString& element : folders) {
        yielder.atFolderStart();
        const QString parent = element.chopped(1);
        for (const QString& name : ListFiles(parent, pattern)) {
            if (!name.startsWith(QLatin1Char('~')))
                entries.append(JoinPath(parent, name));
        }
    }
    qCInfo(lcFileList).noquote() << "folder scan of" << folder << "for" << pattern << "found"
                                 << entries.size() << "files in" << folders.size() << "folders";
    return entries;
}

} // namespace AddFolder
