// pictelle-batch: the conversion run of Pictelle without its window, for scripts, tests
// and benchmarks. It lies beside the pictelle executable and uses the same converters and
// scratch files.

#include "app/runtime/Runtime.h"
#include "conversion/ConversionRun.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

class BatchHost : public ConversionRun::Host
{
public:
    BatchHost(int percentage, int count, bool keepGoing)
        : m_percentage(percentage)
        , m_count(count)
        , m_keepGoing(keepGoing)
    {
    }

    int percentage() override { return m_percentage; }
    int entryCount() override { return m_count; }
    void setProgress(float) override { }
    void showDone() override
    {
        std::fputs("done\n", stdout);
        std::fflush(stdout);
    }
    bool goOnAfter(const AppError& error, bool entriesRemain) override
    {
        std::fprintf(stderr, "pictelle-batch: %s\n", qPrintable(error.description()));
        m_failed = true;
        return m_keepGoing && entriesRemain;
    }
    bool failed() const { return m_failed; }

private:
    int m_percentage;
    int m_count;
    bool m_keepGoing;
    bool m_failed = false;
};

int usage()
{
    std::fputs("usage: pictelle-batch -p PERCENT [--keep-going] FILE...\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int percentage = 0;
    bool keepGoing = false;
    QStringList entries;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--")) {
            entries += args.mid(i + 1);
            break;
        }
        if (a == QLatin1String("-p") && i + 1 < args.size()) {
            bool ok = false;
            percentage = args.at(++i).toInt(&ok);
            if (!ok || percentage < 1 || percentage > 100)
                return usage();
        } else if (a == QLatin1String("--keep-going")) {
            keepGoing = true;
        } else {
            entries.append(a);
        }
    }
    if (percentage == 0)
        return usage();

    BatchHost host(percentage, int(entries.size()), keepGoing);
    try {
        const bool completed = ConversionRun::run({ entries, Runtime::AppPath() }, host);
        return completed && !host.failed() ? 0 : 1;
    } catch (const AppError& e) {
        std::fprintf(stderr, "pictelle-batch: %s\n", qPrintable(e.description()));
        return 1;
    }
}
