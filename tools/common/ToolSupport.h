// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <stdexcept>

class AppError;

// What the converters png2bmp and bmp2png share.
namespace ToolSupport {

// A failure concerning one file: reported as "<program>: <file>: <reason>".
class ToolError : public std::runtime_error
{
public:
    ToolError(QByteArray file, QString reason);
    const QByteArray& file() const noexcept { return m_file; }
    const QString& reason() const noexcept { return m_reason; }

private:
    QByteArray m_file;
    QString m_reason;
};

// The same failure from an AppError about `file`; a trailing ": <path>" that repeats the
// file is dropped from the reason.
ToolError toolError(const QByteArray& file, const AppError& error, const QString& path);
// From an errno value.
ToolError toolError(const QByteArray& file, int errnoValue);

struct Arguments
{
    QByteArray output; // as given on the command line
    QByteArray input;
};

// The converter's body; throws ToolError (or std::bad_alloc).
using Convert = std::function<void(const Arguments&)>;

// Takes `<program> -O <output> <input>` and runs `convert`. Exit status 0 on success; 1 after
// a failure, reported in one line on stderr; 2 with a usage line for any other command line.
// Arguments are taken by position only, so a file named "-O" is a file where it stands.
// SIGTERM, SIGINT and SIGHUP remove the temporary output being written (the converters
// write it through Files::ReplacingFile, whose record Files::removeTemporaries() empties)
// and end the program by the signal.
int runMain(const char* program, const char* usage, int argc, char** argv, const Convert& convert);

} // namespace ToolSupport
