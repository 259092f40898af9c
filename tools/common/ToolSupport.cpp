// SPDX-License-Identifier: MIT

#include "tools/common/ToolSupport.h"

#include "runtime/AppError.h"
#include "runtime/files/Temporaries.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

namespace ToolSupport {

namespace {

// A converter stopped by its caller (the window closed during a run) must not leave its
// temporary output behind.
extern "C" void removeTemporariesAndDie(int signalNumber)
{
    Files::removeTemporaries();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
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
        action.sa_handler = removeTemporariesAndDie;
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

} // namespace ToolSupport
