#include "tools/common/ToolSupport.h"

#include "runtime/AppError.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace ToolSupport {

namespace {

// The temporary output of the moment, for the signal handler: a converter stopped by its
// caller (the window closed during a run) must not leave it behind.
char pendingTemp[PATH_MAX + 1];
volatile std::sig_atomic_t hasPendingTemp = 0;

extern "C" void removePendingTempAndDie(int signalNumber)
{
    if (hasPendingTemp)
        ::unlink(pendingTemp);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void setPendingTemp(const QByteArray& name)
{
    hasPendingTemp = 0;
    if (size_t(name.size()) < sizeof pendingTemp) {
        std::memcpy(pendingTemp, name.constData(), size_t(name.size()) + 1);
        hasPendingTemp = 1;
    }
}

} // namespace

ToolError::ToolError(QByteArray file, QString reason)
    : std::runtime_error(reason.toStdString())
    , m_file(std::move(file))
    , m_reason(std::move(reason))
{
}

ToolError toolError(const QByteArray& file, const AppError& error, const QString& path)
{
    QString reason = error.description();
    const QString repeated = QStringLiteral(": ") + path;
    if (!path.isEmpty() && reason.endsWith(repeated))
        reason.chop(repeated.size());
    return ToolError(file, reason);
}

ToolError toolError(const QByteArray& file, int errnoValue)
{
    return ToolError(file, QString::fromLocal8Bit(std::strerror(errnoValue)));
}

int runMain(const char* program, const char* usage, int argc, char** argv, const Convert& convert)
{
    if (argc != 4 || std::strcmp(argv[1], "-O") != 0) {
        std::fprintf(stderr, "usage: %s %s\n", program, usage);
        return 2;
    }
    for (int signalNumber : { SIGTERM, SIGINT, SIGHUP }) {
        struct sigaction action
        {
        };
        action.sa_handler = removePendingTempAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
    const Arguments arguments { argv[2], argv[3] };
    QByteArray file = arguments.input;
    QString reason;
    try {
        convert(arguments);
        return 0;
    } catch (const ToolError& error) {
        file = error.file();
        reason = error.reason();
    } catch (const AppError& error) {
        reason = error.description();
    } catch (const std::bad_alloc&) {
        reason = QStringLiteral("out of memory");
    } catch (const std::exception& error) {
        reason = QString::fromLocal8Bit(error.what());
    }
    // One line, whatever the reason holds.
    reason.replace(QLatin1Char('\n'), QLatin1Char(' '))
        .replace(QLatin1Char('\r'), QLatin1Char(' '));
    std::fprintf(
        stderr, "%s: %s: %s\n", program, file.constData(), reason.toLocal8Bit().constData());
    return 1;
}

OutputFile::OutputFile(const QByteArray& target)
    : m_target(target)
{
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : target.left(std::max(slash, 1));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = (folder == "/" ? QByteArray() : folder) + "/.pictelle-"
            + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            m_temp = name;
            setPendingTemp(m_temp);
            return;
        }
        if (errno != EEXIST)
            break;
    }
    throw toolError(target, errno);
}

OutputFile::~OutputFile()
{
    if (!m_temp.isEmpty())
        ::unlink(m_temp.constData());
    hasPendingTemp = 0;
}

QString OutputFile::tempPath() const
{
    return QFile::decodeName(m_temp);
}

void OutputFile::commit()
{
    if (::rename(m_temp.constData(), m_target.constData()) != 0)
        throw toolError(m_target, errno);
    hasPendingTemp = 0;
    m_temp.clear();
}

void closeWritten(FilePtr file, const QByteArray& reportAs)
{
    if (std::fclose(file.release()) != 0)
        throw toolError(reportAs, errno);
}

} // namespace ToolSupport
