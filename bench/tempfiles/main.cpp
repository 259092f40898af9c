// SPDX-License-Identifier: MIT

// What writing a thumbnail through Files::ReplacingFile costs with an unnamed temporary
// (O_TMPFILE, linked and renamed at commit) against a named one made at open, the way left
// where unnamed files are refused.
//
//   bench-tempfiles FOLDER [FILES] [BYTES] [ROUNDS]
// Writes FILES files of BYTES bytes (200, 8192) into FOLDER, ROUNDS times each way (9),
// the two ways taking turns; first as new files, then over the files of the round before.
// Prints the median time per file of each way, in microseconds. No fsync, as the program.

#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Microseconds per file for one round of `files` writes of `bytes`.
double round(const std::string& folder, int files, const std::vector<char>& bytes, bool fresh)
{
    if (fresh) {
        for (int i = 0; i < files; ++i)
            ::unlink((folder + "/t" + std::to_string(i) + ".jpg").c_str());
    }
    const auto start = Clock::now();
    for (int i = 0; i < files; ++i) {
        Files::ReplacingFile out;
        if (out.open(folder + "/t" + std::to_string(i) + ".jpg", 0644) != 0
            || Files::writeFull(out.fd(), bytes.data(), bytes.size()) != 0 || out.commit() != 0) {
            std::perror("write");
            std::exit(1);
        }
    }
    const std::chrono::duration<double, std::micro> took = Clock::now() - start;
    return took.count() / files;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-tempfiles FOLDER [FILES] [BYTES] [ROUNDS]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int files = argc > 2 ? std::atoi(argv[2]) : 200;
    const std::vector<char> bytes(argc > 3 ? size_t(std::atol(argv[3])) : 8192, 'x');
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 9;
    for (const bool fresh : { true, false }) {
        std::vector<double> named, unnamed;
        for (int r = 0; r < rounds; ++r) {
            for (const bool useNamed : { r % 2 == 0, r % 2 != 0 }) {
                Files::useNamedTemporaries(useNamed);
                (useNamed ? named : unnamed).push_back(round(folder, files, bytes, fresh));
            }
        }
        std::printf("%s, %d x %zu bytes: unnamed %.1f us/file, named %.1f us/file\n",
            fresh ? "new files" : "over existing files", files, bytes.size(), median(unnamed),
            median(named));
    }
    for (int i = 0; i < files; ++i)
        ::unlink((folder + "/t" + std::to_string(i) + ".jpg").c_str());
    return 0;
}
