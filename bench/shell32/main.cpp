// SPDX-License-Identifier: MIT

// Shell32::RunAndWait's timing, which the unit tests only check by order of events:
// how long the wait takes to return once the program has ended, and how far apart its
// rounds of event processing (Runtime::DoEvents) come while the program runs.
//
//   bench-shell32 [RUNS]
// Prints the median and the largest value of each, in milliseconds, over RUNS runs (20).
// The program started is this executable itself, waiting at a named pipe until let go.

#include "runtime/Runtime.h"
#include "runtime/Shell32.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC: the same in every process

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The started program: waits for a byte through `fifo`, writes the time it ends to `stamp`.
int child(const char* fifo, const char* stamp)
{
    const int fd = open(fifo, O_RDONLY | O_CLOEXEC);
    pollfd ready { fd, POLLIN, 0 };
    char byte = 0;
    if (fd < 0 || poll(&ready, 1, 60000) != 1 || read(fd, &byte, 1) != 1)
        return 99;
    FILE* file = std::fopen(stamp, "wb");
    if (!file)
        return 98;
    const long long now = Clock::now().time_since_epoch().count();
    std::fwrite(&now, sizeof now, 1, file);
    return std::fclose(file) == 0 ? 0 : 97;
}

struct Run
{
    double latencyMs = -1; // from the program's end to the wait's return
    std::vector<double> hookIntervalsMs;
};

// One wait, the program let go at the hook's `letAt`-th call.
Run runOnce(const QTemporaryDir& dir, int letAt)
{
    const QString fifo = dir.filePath("gate");
    const QString stamp = dir.filePath("end");
    QFile::remove(stamp);
    const int gate = open(QFile::encodeName(fifo).constData(), O_RDWR | O_CLOEXEC);
    Run run;
    std::vector<Clock::time_point> calls;
    Runtime::setDoEventsHook([&] {
        calls.push_back(Clock::now());
        const char byte = 1;
        if (int(calls.size()) == letAt && write(gate, &byte, 1) != 1)
            std::fputs("bench-shell32: the gate could not be opened\n", stderr);
    });
    const QString commandLine = Runtime::quoteArgument(QCoreApplication::applicationFilePath())
        + " --child " + Runtime::quoteArgument(fifo) + ' ' + Runtime::quoteArgument(stamp);
    const qint32 code = Shell32::RunAndWait(commandLine, 0);
    const Clock::time_point returned = Clock::now();
    Runtime::setDoEventsHook({});
    close(gate);

    QFile file(stamp);
    long long ended = 0;
    if (code == 0 && file.open(QIODevice::ReadOnly)
        && file.read(reinterpret_cast<char*>(&ended), sizeof ended) == sizeof ended)
        run.latencyMs = msBetween(Clock::time_point(Clock::duration(ended)), returned);
    for (size_t i = 1; i < calls.size(); ++i)
        run.hookIntervalsMs.push_back(msBetween(calls[i - 1], calls[i]));
    return run;
}

void report(const char* what, std::vector<double> values)
{
    if (values.empty()) {
        std::printf("%-30s no values\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("%-30s median %8.3f ms  max %8.3f ms  (%zu values)\n", what,
        values[values.size() / 2], values.back(), values.size());
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QTemporaryDir dir;
    if (!dir.isValid() || mkfifo(QFile::encodeName(dir.filePath("gate")).constData(), 0600) != 0) {
        std::fputs("bench-shell32: no named pipe could be made\n", stderr);
        return 1;
    }

    // Let go at the first call for the latency, after ten for the rounds' spacing.
    std::vector<double> latencies;
    std::vector<double> intervals;
    for (int i = 0; i < runs; ++i) {
        const Run first = runOnce(dir, 1);
        if (first.latencyMs >= 0)
            latencies.push_back(first.latencyMs);
        const Run tenth = runOnce(dir, 10);
        intervals.insert(
            intervals.end(), tenth.hookIntervalsMs.begin(), tenth.hookIntervalsMs.end());
    }
    report("return after the program's end", latencies);
    report("between rounds of events", intervals);
    return 0;
}
