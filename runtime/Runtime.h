// SPDX-License-Identifier: MIT

#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// General services of the forms runtime that several parts of Pictelle call: file and folder
// queries, process start, event yield, the per-user settings store, the program folder and
// random numbers. GUI-free; errors are AppError (runtime/AppError.h).
namespace Runtime {

// File attribute bits, as GetAttr returns them and as Dir masks use them.
enum : int {
    vbNormal = 0,
    vbReadOnly = 1,
    vbHidden = 2, // on Linux: the name begins with "."
    vbSystem = 4, // never set on Linux
    vbDirectory = 16,
};

// One folder search with its own position, so that searches may run interleaved.
//
// `pathPattern` is a folder, "/", and a name pattern: "*" matches any run of characters, "?"
// exactly one, both without regard to letter case, and a pattern ending in ".*" also matches
// names without a dot ("*.*" matches every name). A path ending in "/" lists the folder's
// contents as "*"; a path without "/" searches the current folder.
//
// A pattern without wildcards names one entry: it is looked up exactly as written (letter
// case counts, as it does on Linux file systems) and reported once when it exists and the mask
// admits it, so Dir(path) != "" asks whether a plain file exists.
//
// An entry that is hidden (name begins with ".") or a folder is listed only when `attributes`
// holds that bit; nothing else excludes an entry. "." and ".." count as folders, not hidden.
// A link is judged by what it points to; a dangling link counts as a plain file.
//
// A folder that cannot be read, a missing folder and an empty path give no entries; nothing is
// thrown. The folder is read lazily, entry by entry, and closed when the search is exhausted.
class Dir
{
public:
    explicit Dir(const QString& pathPattern, int attributes = vbNormal);
    ~Dir();
    Dir(Dir&&) noexcept;
    Dir& operator=(Dir&&) noexcept;
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;

    // The next matching entry's name (no folder), "" when none is left.
    QString next();

    // Whether the entry last returned by next() is a folder (links followed). Lets a folder
    // scan skip a GetAttr call per entry.
    bool lastIsFolder() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Attribute bits of `path`: vbDirectory for a folder, vbHidden when its name begins with ".",
// vbReadOnly when the user may not write it or no write permission bit is set at all (so a
// chmod 444 file is read-only for root as well). Links are followed.
// Throws AppError 53 "File not found: <path>" for a missing path, another AppError naming the
// path when it cannot be examined.
int GetAttr(const QString& path);

// Last modification time of `path` (local time). Throws AppError naming the path when it
// cannot be read (53 when missing).
QDateTime FileDateTime(const QString& path);

// Copies the file `from` to `to`, replacing `to`. The copy is written under a temporary name
// in the target's folder and renamed into place, so `to` is never left half-written. The copy
// gets the source's permission bits. Throws AppError naming `from` for a read failure, `to`
// for a write failure (76 "Path not found: <to>" when the target folder is missing).
void FileCopy(const QString& from, const QString& to);

// Deletes the file `path` (no wildcards). Throws AppError 53 "File not found: <path>" when it
// is missing, another AppError naming the path when it cannot be deleted (a folder included).
void Kill(const QString& path);

// True when `path` exists (links followed: a dangling link does not count).
bool pathExists(const QString& path);

// Splits a command line into arguments. Blanks and tabs separate arguments outside double
// quotes; a double quote opens or closes a quoted run and is not kept; inside a quoted run two
// double quotes ("") give one literal double quote. A backslash is always an ordinary
// character, so Linux paths holding backslashes need no escaping. Throws AppError 5 for an
// unterminated quote.
QStringList splitCommandLine(const QString& commandLine);

// Quotes one argument so that splitCommandLine gives it back unchanged: wraps it in double
// quotes and doubles every double quote inside.
QString quoteArgument(const QString& argument);

// Who collects a started program's exit status.
enum class Reaping {
    Automatic, // a background waiter collects it; the caller only gets the process id
    ByCaller, // the caller must collect it with waitpid/waitid, on every path
};

// Starts the program of `commandLine` directly (posix_spawn, never through a shell) with the
// split arguments, and returns its process id. A program name without "/" is searched in PATH.
// `windowStyle` (0..6) is checked and otherwise has no effect: Pictelle's helpers open no
// window. The child gets stdin from /dev/null, Pictelle's stdout and stderr, and no other of
// Pictelle's descriptors; with `errorOutput` (a descriptor, -1 for none) the child's stderr
// goes there instead.
// Throws AppError 5 for an empty or malformed command line or a style outside 0..6,
// 53 "File not found: <program>" for a missing program, 70 "Permission denied: <program>" for
// one that is not an executable file.
qint64 Shell(const QString& commandLine, int windowStyle, Reaping reaping = Reaping::Automatic,
    int errorOutput = -1);

// Runs the event hook when called on the thread that installed it; a no-op on other threads
// and when no hook is set.
void DoEvents();

// Installs `hook` (empty to remove it) for DoEvents on the calling thread.
void setDoEventsHook(std::function<void()> hook);

// The per-user settings store: INI file "<appName>.conf" in the user's configuration folder
// (XDG_CONFIG_HOME), group `section`, key `key`. GetSetting returns `defaultValue` when the
// entry is missing. SaveSetting writes the file through at once; throws AppError 75 naming the
// file when it cannot be written.
QString GetSetting(const QString& appName, const QString& section, const QString& key,
    const QString& defaultValue = {});
void SaveSetting(
    const QString& appName, const QString& section, const QString& key, const QString& value);

// Path of the settings file that GetSetting and SaveSetting use for `appName`.
QString settingsFilePath(const QString& appName);

// The folder holding the running executable, links resolved, without a trailing "/".
QString AppPath();

// Seeds Rnd with `seed`; the same seed gives the same numbers. The window passes Timer(),
// the time of day.
void Randomize(float seed);

// A pseudo-random fraction, at least 0 and below 1. Thread-safe.
float Rnd();

// Seconds since local midnight, with a fractional part.
float Timer();

} // namespace Runtime
