// SPDX-License-Identifier: MIT

#include "filelist/AddFolder.h"

#include "runtime/Logging.h"
#include "runtime/Runtime.h"

#include <QFile>
#include <algorithm>
#include <chrono>
#include <sys/stat.h>
#include <unordered_set>
#include <utility>

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

// Letters without regard to case, digit runs by value; 0 when only case or leading zeros
// tell the names apart.
int compareNatural(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            while (i < a.size() && a[i] == QLatin1Char('0'))
                ++i;
            while (j < b.size() && b[j] == QLatin1Char('0'))
                ++j;
            qsizetype endA = i, endB = j;
            while (endA < a.size() && isAsciiDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isAsciiDigit(b[endB]))
                ++endB;
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            const int digits
                = QStringView(a).sliced(i, endA - i).compare(QStringView(b).sliced(j, endB - j));
            if (digits != 0)
                return digits;
            i = endA;
            j = endB;
            continue;
        }
        const char32_t x = QChar::toCaseFolded(a[i].unicode());
        const char32_t y = QChar::toCaseFolded(b[j].unicode());
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
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
    const int order = m_ownNumbers ? compareNatural(a, b) : m_collator.compare(a, b);
    // Names the collation finds equal ("p01" and "p1", or differing only in case where case
    // is ignored) still get one order, so that a listing never depends on the file system.
    return order != 0 ? order < 0 : a < b;
}

void NameOrder::sort(QStringList& names) const
{
    if (names.size() < 2)
        return;
    std::stable_sort(names.begin(), names.end(), *this);
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
