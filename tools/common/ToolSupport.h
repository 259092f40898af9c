// SPDX-License-Identifier: MIT

#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace BmpCore {
class Error;
}

// What the converters png2bmp and bmp2png share. Plain C++: the converters load no Qt.
namespace ToolSupport {

// A failure concerning one file: reported as "<program>: <file>: <reason>".
class ToolError : public std::runtime_error
{
public:
    ToolError(std::string file, const std::string& reason);
    const std::string& file() const noexcept { return m_file; }
    std::string reason() const { return what(); }

private:
    std::string m_file;
};

// The same failure from the BMP core's error about `file`, worded as imaging words it
// without the trailing ": <path>".
ToolError toolError(const std::string& file, const BmpCore::Error& error);
// From an errno value.
ToolError toolError(const std::string& file, int errnoValue);

struct Arguments
{
    std::string output; // as given on the command line
    std::string input;
};

// The converter's body; throws ToolError (or std::bad_alloc).
using Convert = std::function<void(const Arguments&)>;

// Takes `<program> -O <output> <input>` and runs `convert`. Exit status 0 on success; 1 after
// a failure, reported in one line on stderr; 2 with a usage line for any other command line.
// Arguments are taken by position only, so a file named "-O" is a file where it stands.
// SIGTERM, SIGINT and SIGHUP remove the temporary output being written (the converters
// write it through Files::ReplacingFile, whose record Files::removeTemporaries() empties)
// and end the program by the signal. The converter ends with its parent (SIGKILL), so none
// writes on after the program that started it was killed.
int runMain(const char* program, const char* usage, int argc, char** argv, const Convert& convert);

} // namespace ToolSupport
