// SPDX-License-Identifier: MIT

// pictelle-read -p <percentage> -O <output> <input>
//
// Reads the first frame or page of a WebP, TIFF or GIF picture, or every frame of an animated
// GIF or WebP (the content decides which, whatever the name says), scales it to its thumbnail
// size at <percentage> with the area averaging every thumbnail gets, applies its orientation,
// and writes it with what the thumbnail must keep of the source (imaging/core/ScaledFrames.h)
// to <output>. The
// decoders are large C libraries: they run here, under limits of memory and processor time,
// so that a hostile file ends this process and not the run that started it.

#include "imaging/core/AreaScaling.h"
#include "imaging/core/Limits.h"
#include "imaging/core/ScaledFrames.h"
#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"
#include "tools/common/ToolSupport.h"
#include "tools/reader/ReadThumbnail.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ToolSupport;

// AddressSanitizer reserves terabytes of address space for its shadow memory at start, so a
// sanitizer build cannot run under an address-space limit; it checks the allocations itself.
#if defined(__SANITIZE_ADDRESS__)
#define PICTELLE_READ_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PICTELLE_READ_SANITIZED 1
#endif
#endif

namespace {

// Limits and the parent's end, before any byte of the file is decoded.
void fenceOff(pid_t parent)
{
#ifndef PICTELLE_READ_SANITIZED
    const rlimit memory { Limits::readerAddressSpace, Limits::readerAddressSpace };
    setrlimit(RLIMIT_AS, &memory);
#endif
    // SIGXCPU at the limit, SIGKILL a second later should it be caught.
    const rlimit cpu { Limits::readerCpuSeconds, Limits::readerCpuSeconds + 1 };
    setrlimit(RLIMIT_CPU, &cpu);
    // A reader ended by a signal leaves no core file in the user's folder.
    const rlimit core { 0, 0 };
    setrlimit(RLIMIT_CORE, &core);
    alarm(Limits::readerWallSeconds);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have ended before the request above was made: nobody waits any more.
    if (getppid() != parent)
        _exit(1);
}

// The input, a regular file of at most Limits::maxFileSize bytes (a pipe or device would be
// waited on without end).
Files::UniqueFd openInput(const std::string& path, std::size_t& size)
{
    Files::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        throw toolError(path, errno);
    struct stat st;
    if (fstat(fd.get(), &st) != 0)
        throw toolError(path, errno);
    if (!S_ISREG(st.st_mode))
        throw ToolError(path, "not a regular file");
    if (st.st_size > Limits::maxFileSize)
        throw ToolError(path, "the file is larger than any picture it could hold");
    size = std::size_t(st.st_size);
    return fd;
}

void convert(const Arguments& arguments, int percentage)
{
    std::size_t size = 0;
    Files::UniqueFd input = openInput(arguments.input, size);
    const std::vector<std::uint8_t> encoded = ImageCore::encodeScaledFrames(
        Reader::readThumbnail(std::move(input), size, percentage, arguments.input));

    Files::ReplacingFile file;
    if (int error = file.open(arguments.output, 0600))
        throw toolError(arguments.output, error);
    if (int error = Files::writeFull(file.fd(), encoded.data(), encoded.size()))
        throw toolError(arguments.output, error);
    if (int error = file.commit())
        throw toolError(arguments.output, error);
}

} // namespace

int main(int argc, char** argv)
{
    const pid_t parent = getppid();
    fenceOff(parent);
    static const char usage[] = "-p <percentage> -O <output> <input>";
    if (argc != 6 || std::strcmp(argv[1], "-p") != 0) {
        std::fprintf(stderr, "usage: pictelle-read %s\n", usage);
        return 2;
    }
    char* end = nullptr;
    const long percentage = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || percentage < 1 || percentage > 100) {
        std::fprintf(stderr, "usage: pictelle-read %s\n", usage);
        return 2;
    }
    // The rest is a converter's command line, with the program's name in front.
    argv[2] = argv[0];
    return runMain("pictelle-read", usage, argc - 2, argv + 2,
        [percentage](const Arguments& arguments) { convert(arguments, int(percentage)); });
}
