// SPDX-License-Identifier: MIT

// Stands in for pictelle-read in a test's program folder, misbehaving as the first word of
// its input says: "crash" dies by SIGABRT (sanitizer builds would turn a SIGSEGV into an
// ordinary exit), "hang" spins until the processor-time limit (1 s here, where the reader's
// own is a minute) ends it by SIGXCPU, having made "<input>.hanging" to say it has begun, "garbage"
// writes an output that is no picture and claims success. Never installed, never in the program
// folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    char word[16] = {};
    if (FILE* in = std::fopen(argv[5], "rb")) {
        const std::size_t n = std::fread(word, 1, sizeof word - 1, in);
        word[n] = '\0';
        std::fclose(in);
    }
    if (std::strncmp(word, "crash", 5) == 0)
        std::abort();
    if (std::strncmp(word, "hang", 4) == 0) {
        const std::string begun = std::string(argv[5]) + ".hanging";
        if (FILE* mark = std::fopen(begun.c_str(), "wb"))
            std::fclose(mark);
        const rlimit cpu { 1, 2 };
        setrlimit(RLIMIT_CPU, &cpu);
        for (volatile unsigned long spins = 0;;)
            spins = spins + 1u;
    }
    if (std::strncmp(word, "garbage", 7) == 0) {
        if (FILE* out = std::fopen(argv[4], "wb")) {
            std::fputs("PICTRD02 and then nothing of use", out);
            std::fclose(out);
        }
        return 0;
    }
    return 1;
}
