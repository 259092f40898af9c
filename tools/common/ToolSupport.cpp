#include "tools/common/ToolSupport.h"

#include "app/runtime/AppError.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace ToolSupport {

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
}

QString OutputFile::tempPath() const
{
    return QFile::decodeName(m_temp);
}

void OutputFile::commit()
{
    if (::rename(m_temp.constData(), m_target.constData()) != 0)
        throw toolError(m_target, errno);
    m_temp.clear();
}

void closeWritten(FilePtr file, const QByteArray& reportAs)
{
    if (std::fclose(file.release()) != 0)
        throw toolError(reportAs, errno);
}

} // namespace ToolSupport
