// SPDX-License-Identifier: MIT

#include "runtime/AppError.h"
#include "runtime/Runtime.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Runtime {

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
        throw AppError::about(
            ErrorNumber::InvalidCall, QStringLiteral("unterminated quote in ") + commandLine);
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
        throw AppError::about(ErrorNumber::PermissionDenied, program);
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

qint64 Shell(const QString& commandLine, int windowStyle, Reaping reaping, int errorOutput)
{
    if (windowStyle < 0 || windowStyle > 6)
        throw AppError::about(
            ErrorNumber::InvalidCall, QStringLiteral("window style %1").arg(windowStyle));
    const QStringList arguments = splitCommandLine(commandLine);
    if (arguments.isEmpty() || arguments.first().isEmpty())
        throw AppError::about(ErrorNumber::InvalidCall, QStringLiteral("empty command line"));
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
    if (errorOutput >= 0)
        posix_spawn_file_actions_adddup2(&files.actions, errorOutput, 2);
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

    // Our converters end with the process that started them; this tells them which one it
    // is, so that one already gone is noticed (tools/common).
    const QByteArray parentVariable = QByteArrayLiteral("PICTELLE_PARENT_PID=");
    const QByteArray parent = parentVariable + QByteArray::number(qint64(getpid()));
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, parentVariable.constData(), size_t(parentVariable.size())))
            environment.push_back(*variable);
    }
    environment.push_back(const_cast<char*>(parent.constData()));
    environment.push_back(nullptr);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.constData(), &files.actions, &attributes.attributes,
        argv.data(), environment.data());
    if (rc != 0) {
        const QString name = arguments.first();
        switch (rc) {
        case ENOENT:
            throw fileError(ENOENT, name);
        case EACCES:
        case EPERM:
        case ENOEXEC:
            throw AppError::about(ErrorNumber::PermissionDenied, name);
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

} // namespace Runtime
