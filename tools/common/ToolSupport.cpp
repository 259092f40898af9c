// SPDX-License-Identifier: MIT

#include "tools/common/ToolSupport.h"

#include "imaging/bmpcore/BmpError.h"
#include "runtime/files/Temporaries.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/prctl.h>
#include <unistd.h>

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

// A converter must not write on once its caller is gone, killed by SIGKILL, which no handler
// sees: the kernel ends it with its parent. posix_spawn cannot ask for that between fork and
// exec, so the converter asks itself, first thing; a parent that died before the asking is
// seen in getppid() no longer being the one named in PICTELLE_PARENT_PID (Runtime::Shell).
// The kernel watches the thread that started the converter, which waits for it
// (Shell32::RunAndWait) and so outlives it unless the whole process goes.
void endWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const char* expected = std::getenv("PICTELLE_PARENT_PID");
    if (expected && std::strtol(expected, nullptr, 10) != long(::getppid()))
        ::kill(::getpid(), SIGKILL);
}

} // namespace

ToolError::ToolError(std::string file, const std::string& reason)
    : std::runtime_error(reason)
    , m_file(std::move(file))
{
}

ToolError toolError(const std::string& file, const BmpCore::Error& error)
{
    return ToolError(file, error.reason());
}

ToolError toolError(const std::string& file, int errnoValue)
{
    return ToolError(file, std::strerror(errnoValue));
}

int runMain(const char* program, const char* usage, int argc, char** argv, const Convert& convert)
{
    if (argc != 4 || std::strcmp(argv[1], "-O") != 0) {
        std::fprintf(stderr, "usage: %s %s\n", program, usage);
        return 2;
    }
    endWithParent();
    for (int signalNumber : { SIGTERM, SIGINT, SIGHUP }) {
        struct sigaction action
        {
        };
        action.sa_handler = removeTemporariesAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
    const Arguments arguments { argv[2], argv[3] };
    std::string file = arguments.input;
    std::string reason;
    try {
        convert(arguments);
        return 0;
    } catch (const ToolError& error) {
        file = error.file();
        reason = error.reason();
    } catch (const BmpCore::Error& error) {
        reason = error.reason();
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (const std::exception& error) {
        reason = error.what();
    }
    // One line, whatever the reason holds.
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    std::replace(reason.begin(), reason.end(), '\r', ' ');
    std::fprintf(stderr, "%s: %s: %s\n", program, file.c_str(), reason.c_str());
    return 1;
}

} // namespace ToolSupport
