#include "app/runtime/Runtime.h"

#include "app/runtime/AppError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTime>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Runtime {

namespace {

class UniqueFd
{
public:
    explicit UniqueFd(int fd = -1)
        : m_fd(fd)
    {
    }
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }
    // Closes now and reports the result, since a write error may only show at close.
    int close()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

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

bool FileExists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && stat(QFile::encodeName(path).constData(), &st) == 0;
}

void Kill(const QString& path)
{
    if (unlink(QFile::encodeName(path).constData()) != 0)
        throw fileError(errno, path);
}

namespace {

// Removes a temporary file unless it was renamed into place.
struct TempFileGuard
{
    QByteArray path;
    bool armed = true;
    ~TempFileGuard()
    {
        if (armed)
            unlink(path.constData());
    }
};

bool writeAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

void FileCopy(const QString& from, const QString& to)
{
    UniqueFd source(open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0)
        throw fileError(errno, from);
    struct stat st;
    if (fstat(source.get(), &st) != 0)
        throw fileError(errno, from);
    if (S_ISDIR(st.st_mode))
        throw fileError(EISDIR, from);

    const QString folder = QFileInfo(to).absolutePath();
    TempFileGuard temp { QFile::encodeName(folder + QStringLiteral("/.pictelle-copy-XXXXXX")) };
    UniqueFd target(mkostemp(temp.path.data(), O_CLOEXEC));
    if (target.get() < 0) {
        temp.armed = false;
        if (errno == ENOENT || errno == ENOTDIR)
            throw AppError(ErrorNumber::PathNotFound, QStringLiteral("Path not found: ") + to);
        throw fileError(errno, to);
    }

    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = read(source.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw fileError(errno, from);
        }
        if (got == 0)
            break;
        if (!writeAll(target.get(), buffer.data(), got))
            throw fileError(errno, to);
    }
    // The permission bits only: a set-user-ID bit of someone else's file must not reappear
    // on a copy that the user running Pictelle owns.
    if (fchmod(target.get(), st.st_mode & 0777) != 0 || target.close() != 0)
        throw fileError(errno, to);
    if (rename(temp.path.constData(), QFile::encodeName(to).constData()) != 0)
        throw fileError(errno, to);
    temp.armed = false;
}

// ---------------------------------------------------------------------------------------
// Processes

QStringList splitCommandLine(const QString& commandLine)
{
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine[i];
        if (inQuotes) {
            if (c != QLatin1Char('"')) {
                current += c;
            } else if (i + 1 < commandLine.size() && commandLine[i + 1] == QLatin1Char('"')) {
                current += c;
                ++i;
            } else {
                inQuotes = false;
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArgument) {
                arguments << current;
                current.clear();
                inArgument = false;
            }
        } else {
            inArgument = true;
            if (c == QLatin1Char('"'))
                inQuotes = true;
            else
                current += c;
        }
    }
    if (inQuotes)
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: unterminated quote in ")
                + commandLine);
    if (inArgument)
        arguments << current;
    return arguments;
}

QString quoteArgument(const QString& argument)
{
    QString quoted = argument;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

namespace {

enum class ProgramCheck { Ok, Missing, NotExecutable };

ProgramCheck checkProgram(const QByteArray& path)
{
    struct stat st;
    if (stat(path.constData(), &st) != 0)
        return ProgramCheck::Missing;
    if (!S_ISREG(st.st_mode) || access(path.constData(), X_OK) != 0)
        return ProgramCheck::NotExecutable;
    return ProgramCheck::Ok;
}

// The file to execute for `program`: the path itself when it holds "/", otherwise the first
// executable of that name in PATH.
QByteArray resolveProgram(const QString& program)
{
    const QByteArray encoded = QFile::encodeName(program);
    ProgramCheck check = ProgramCheck::Missing;
    QByteArray found;
    if (program.contains(QLatin1Char('/'))) {
        check = checkProgram(encoded);
        found = encoded;
    } else {
        const char* envPath = getenv("PATH");
        const QByteArray searchPath = envPath ? QByteArray(envPath) : QByteArray("/usr/bin:/bin");
        for (const QByteArray& folder : searchPath.split(':')) {
            const QByteArray candidate
                = (folder.isEmpty() ? QByteArray(".") : folder) + '/' + encoded;
            const ProgramCheck c = checkProgram(candidate);
            if (c == ProgramCheck::Ok) {
                check = c;
                found = candidate;
                break;
            }
            if (c == ProgramCheck::NotExecutable)
                check = c;
        }
    }
    if (check == ProgramCheck::Missing)
        throw fileError(ENOENT, program);
    if (check == ProgramCheck::NotExecutable)
        throw AppError(
            ErrorNumber::PermissionDenied, QStringLiteral("Permission denied: ") + program);
    return found;
}

struct SpawnFileActions
{
    posix_spawn_file_actions_t actions;
    SpawnFileActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
};

struct SpawnAttributes
{
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

void reapInBackground(pid_t pid)
{
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        }).detach();
    } catch (const std::system_error&) {
        // Without a thread the child stays a zombie until Pictelle ends; the start itself
        // succeeded, so that is no reason to report a failure.
    }
}

} // namespace

qint64 Shell(const QString& commandLine, int windowStyle, Reaping reaping)
{
    if (windowStyle < 0 || windowStyle > 6)
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: window style %1").arg(windowStyle));
    const QStringList arguments = splitCommandLine(commandLine);
    if (arguments.isEmpty() || arguments.first().isEmpty())
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: empty command line"));
    const QByteArray program = resolveProgram(arguments.first());

    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(arguments.size()));
    for (const QString& argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    SpawnFileActions files;
    posix_spawn_file_actions_addopen(&files.actions, 0, "/dev/null", O_RDONLY, 0);
    // Descriptors opened without O_CLOEXEC (by Qt, libraries or another thread) must not leak.
    posix_spawn_file_actions_addclosefrom_np(&files.actions, 3);

    SpawnAttributes attributes;
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attributes.attributes, &mask);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : { SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD })
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes.attributes, &defaults);
    posix_spawnattr_setflags(
        &attributes.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int rc = posix_spawn(
        &pid, program.constData(), &files.actions, &attributes.attributes, argv.data(), environ);
    if (rc != 0) {
        const QString name = arguments.first();
        switch (rc) {
        case ENOENT:
            throw fileError(ENOENT, name);
        case EACCES:
        case EPERM:
        case ENOEXEC:
            throw AppError(
                ErrorNumber::PermissionDenied, QStringLiteral("Permission denied: ") + name);
        default:
            throw fileError(rc, name);
        }
    }
    if (reaping == Reaping::Automatic)
        reapInBackground(pid);
    return pid;
}

// ---------------------------------------------------------------------------------------
// Events

namespace {

struct EventHook
{
    std::mutex mutex;
    std::function<void()> hook;
    std::thread::id owner;
};

EventHook& eventHook()
{
    static EventHook instance;
    return instance;
}

} // namespace

void DoEvents()
{
    std::function<void()> hook;
    {
        EventHook& h = eventHook();
        std::lock_guard lock(h.mutex);
        if (!h.hook || h.owner != std::this_thread::get_id())
            return;
        hook = h.hook;
    }
    // Called outside the lock: the hook may run handlers that set another hook.
    hook();
}

void setDoEventsHook(std::function<void()> hook)
{
    EventHook& h = eventHook();
    std::lock_guard lock(h.mutex);
    h.hook = std::move(hook);
    h.owner = std::this_thread::get_id();
}

// ---------------------------------------------------------------------------------------
// Settings

QString settingsFilePath(const QString& appName)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QLatin1Char('/') + appName + QStringLiteral(".conf");
}

QString GetSetting(
    const QString& appName, const QString& section, const QString& key, const QString& defaultValue)
{
    QSettings settings(settingsFilePath(appName), QSettings::IniFormat);
    settings.beginGroup(section);
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return defaultValue;
    // An unquoted comma in a hand-edited file makes the INI reader return a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void SaveSetting(
    const QString& appName, const QString& section, const QString& key, const QString& value)
{
    const QString path = settingsFilePath(appName);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw AppError(ErrorNumber::PathFileAccess,
            QStringLiteral("Cannot create the folder of the settings file: ") + path);
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(section);
    settings.setValue(key, value);
    settings.endGroup();
    // The window may end the program right after a change: the value must be on disk now.
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw AppError(
            ErrorNumber::PathFileAccess, QStringLiteral("Cannot write the settings file: ") + path);
}

// ---------------------------------------------------------------------------------------
// Program, screen, random numbers

QString AppPath()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return QCoreApplication::applicationDirPath();
        if (size_t(length) < buffer.size()) {
            QString exe = QFile::decodeName(QByteArray(buffer.data(), length));
            // The kernel marks an executable replaced on disk while running.
            if (exe.endsWith(QLatin1String(" (deleted)")))
                exe.chop(10);
            const QString folder = QFileInfo(exe).absolutePath();
            return folder;
        }
        buffer.resize(buffer.size() * 2);
    }
}

ScreenInfo Screen()
{
    double widthPixels = 1920;
    double heightPixels = 1080;
    double dpiX = 96;
    double dpiY = 96;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            widthPixels = screen->geometry().width();
            heightPixels = screen->geometry().height();
            if (screen->logicalDotsPerInchX() > 0)
                dpiX = screen->logicalDotsPerInchX();
            if (screen->logicalDotsPerInchY() > 0)
                dpiY = screen->logicalDotsPerInchY();
        }
    }
    const double twipsX = 1440.0 / dpiX;
    const double twipsY = 1440.0 / dpiY;
    return { widthPixels * twipsX, heightPixels * twipsY, twipsX, twipsY };
}

namespace {

struct RandomSource
{
    std::mutex mutex;
    std::mt19937 generator { 0x50494354u }; // fixed until Randomize, as the forms runtime did
};

RandomSource& randomSource()
{
    static RandomSource instance;
    return instance;
}

} // namespace

void Randomize()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    RandomSource& r = randomSource();
    std::lock_guard lock(r.mutex);
    r.generator.seed(
        std::uint32_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

float Rnd()
{
    RandomSource& r = randomSource();
    std::lock_guard lock(r.mutex);
    // 24 random bits fill a float's mantissa exactly, so the result can never round up to 1.
    return float(r.generator() >> 8) * (1.0f / 16777216.0f);
}

float Timer()
{
    return float(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
}

} // namespace Runtime
