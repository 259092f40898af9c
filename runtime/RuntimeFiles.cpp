// SPDX-License-Identifier: MIT

#include "runtime/AppError.h"
#include "runtime/Runtime.h"
#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"

#include <QFile>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Runtime {

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool isHiddenName(const char* name)
{
    return name[0] == '.' && !isDotOrDotDot(name);
}

bool hasWildcard(const QString& pattern)
{
    return pattern.contains(QLatin1Char('*')) || pattern.contains(QLatin1Char('?'));
}

// "*" any run, "?" exactly one character; both strings already case-folded, in UCS-4 so that
// "?" takes a whole character outside the Basic Multilingual Plane.
bool globMatch(const QList<uint>& pattern, qsizetype patternLength, const QList<uint>& name)
{
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype star = -1;
    qsizetype mark = 0;
    while (n < name.size()) {
        if (p < patternLength && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < patternLength && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < patternLength && pattern[p] == '*')
        ++p;
    return p == patternLength;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Dir

struct Dir::State
{
    int mask = vbNormal;
    // Wildcard search
    std::unique_ptr<DIR, DirCloser> dir;
    QList<uint> pattern; // case-folded
    bool matchAll = false;
    bool dotStarOptional = false; // the pattern ends in ".*", which also matches "no dot"
    // Exact lookup: the one name to report, if any
    QString single;
    bool lastFolder = false;

    bool matches(const QString& name) const
    {
        if (matchAll)
            return true;
        const QList<uint> folded = name.toCaseFolded().toUcs4();
        return globMatch(pattern, pattern.size(), folded)
            || (dotStarOptional && globMatch(pattern, pattern.size() - 2, folded));
    }

    // Whether the entry is a folder; a link is judged by its target.
    bool isFolder(const dirent* entry) const
    {
        if (entry->d_type == DT_DIR)
            return true;
        if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            return false;
        struct stat st;
        return fstatat(dirfd(dir.get()), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
};

Dir::Dir(const QString& pathPattern, int attributes)
    : m_state(std::make_unique<State>())
{
    m_state->mask = attributes;
    if (pathPattern.isEmpty())
        return;

    const qsizetype slash = pathPattern.lastIndexOf(QLatin1Char('/'));
    QString folder;
    QString pattern;
    if (slash < 0) {
        folder = QStringLiteral(".");
        pattern = pathPattern;
    } else {
        folder = slash == 0 ? QStringLiteral("/") : pathPattern.left(slash);
        pattern = pathPattern.mid(slash + 1);
    }
    if (pattern.isEmpty())
        pattern = QStringLiteral("*");

    if (!hasWildcard(pattern)) {
        // An exact name: one lookup instead of reading the whole folder.
        const QByteArray encoded = QFile::encodeName(folder + QLatin1Char('/') + pattern);
        struct stat st;
        bool folderEntry = false;
        if (stat(encoded.constData(), &st) == 0)
            folderEntry = S_ISDIR(st.st_mode);
        else if (lstat(encoded.constData(), &st) != 0)
            return;
        const QByteArray name = QFile::encodeName(pattern);
        if (isHiddenName(name.constData()) && !(attributes & vbHidden))
            return;
        if (folderEntry && !(attributes & vbDirectory))
            return;
        m_state->single = pattern;
        m_state->lastFolder = folderEntry;
        return;
    }

    m_state->dir.reset(opendir(QFile::encodeName(folder).constData()));
    m_state->matchAll = pattern == QLatin1String("*") || pattern == QLatin1String("*.*");
    m_state->pattern = pattern.toCaseFolded().toUcs4();
    m_state->dotStarOptional = pattern.endsWith(QLatin1String(".*"));
}

Dir::~Dir() = default;
Dir::Dir(Dir&&) noexcept = default;
Dir& Dir::operator=(Dir&&) noexcept = default;

QString Dir::next()
{
    State& s = *m_state;
    if (!s.single.isEmpty()) {
        QString name;
        name.swap(s.single);
        return name;
    }
    if (!s.dir)
        return {};
    while (const dirent* entry = readdir(s.dir.get())) {
        if (isHiddenName(entry->d_name) && !(s.mask & vbHidden))
            continue;
        QString name = QFile::decodeName(entry->d_name);
        if (!s.matches(name))
            continue;
        const bool folder = s.isFolder(entry);
        if (folder && !(s.mask & vbDirectory))
            continue;
        s.lastFolder = folder;
        return name;
    }
    // Exhausted (or a read error): free the descriptor now, a scan may hold many searches.
    s.dir.reset();
    s.lastFolder = false;
    return {};
}

bool Dir::lastIsFolder() const
{
    return m_state->lastFolder;
}

// ---------------------------------------------------------------------------------------
// Files

int GetAttr(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st;
    const bool followed = stat(encoded.constData(), &st) == 0;
    if (!followed) {
        const int err = errno;
        if (lstat(encoded.constData(), &st) != 0)
            throw fileError(err, path);
    }
    int attributes = vbNormal;
    if (S_ISDIR(st.st_mode))
        attributes |= vbDirectory;

    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    if (isHiddenName(QFile::encodeName(name).constData()))
        attributes |= vbHidden;

    // A dangling link is judged as the link itself, which is never read-only.
    if (followed && ((st.st_mode & 0222) == 0 || access(encoded.constData(), W_OK) != 0))
        attributes |= vbReadOnly;
    return attributes;
}

QDateTime FileDateTime(const QString& path)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        throw fileError(errno, path);
    return QDateTime::fromMSecsSinceEpoch(
        qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
}

bool pathExists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && stat(QFile::encodeName(path).constData(), &st) == 0;
}

void Kill(const QString& path)
{
    if (unlink(QFile::encodeName(path).constData()) != 0)
        throw fileError(errno, path);
}

void FileCopy(const QString& from, const QString& to)
{
    Files::UniqueFd source(open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC));
    if (!source.valid())
        throw fileError(errno, from);
    struct stat st;
    if (fstat(source.get(), &st) != 0)
        throw fileError(errno, from);
    if (S_ISDIR(st.st_mode))
        throw fileError(EISDIR, from);

    Files::ReplacingFile target;
    if (const int error = target.open(QFile::encodeName(to).toStdString(), st.st_mode & 0777)) {
        if (error == ENOENT || error == ENOTDIR)
            throw AppError::about(ErrorNumber::PathNotFound, to);
        throw fileError(error, to);
    }

    std::vector<char> buffer(1 << 16);
    for (;;) {
        const Files::ReadResult got = Files::readFull(source.get(), buffer.data(), buffer.size());
        if (got.error != 0)
            throw fileError(got.error, from);
        if (const int error = Files::writeFull(target.fd(), buffer.data(), got.bytes))
            throw fileError(error, to);
        if (got.bytes < buffer.size())
            break;
    }
    // The permission bits only, all of them (the umask reduced the create's mode): a
    // set-user-ID bit of someone else's file must not reappear on a copy that the user running
    // Pictelle owns. A device written in place keeps its own.
    if (!target.inPlace() && fchmod(target.fd(), st.st_mode & 0777) != 0)
        throw fileError(errno, to);
    if (const int error = target.commit())
        throw fileError(error, to);
}

} // namespace Runtime
