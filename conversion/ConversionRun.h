// SPDX-License-Identifier: MIT

#pragma once

#include "runtime/AppError.h"

#include <QString>
#include <QStringList>

// The conversion run: every BMP, JPEG and PNG entry of the list gets a thumbnail beside its
// source, named with a leading "t", in its own format. GUI-free: the window hosts it as
// Check2_Click, and the tests and pictelle-batch drive it directly.
namespace ConversionRun {

// What the run needs from its host. Calls come from the thread that runs the run. A host
// stops a run by throwing from a call anything but AppError: it passes out of run.
class Host
{
public:
    virtual ~Host() = default;
    // The percentage 1..100: read once at the start as the scale factor and again at every
    // JPEG output as the quality.
    virtual int percentage() = 0;
    // The list's current entry count, read again before each entry for the progress.
    virtual int entryCount() = 0;
    // Progress 0..100 (i / current count * 100, held in single precision), set before the
    // entry i is worked on.
    virtual void setProgress(float value) = 0;
    // Shows the closing message "done" (title "Pictelle", OK only, no icon).
    virtual void showDone() = 0;
    // A step failed on an entry: shows the error (its description names the file) and,
    // when `entriesRemain`, asks whether to go on with the remaining entries. Returns true
    // to go on. Thumbnails already written stay either way.
    virtual bool goOnAfter(const AppError& error, bool entriesRemain) = 0;
};

struct Options
{
    QStringList entries; // entry texts in list order: full paths
    QString programFolder; // holds png2bmp and bmp2png, and the scratch files when writable
    QString outputFolder = {}; // the thumbnails' folder; empty: beside each source
};

// Whether the run makes a thumbnail of `entry` (a BMP, JPEG or PNG by its extension, in any
// letter case); any other entry is passed over.
bool makesThumbnail(const QString& entry);

// The thumbnail of `entry`: its file name with "t" put in front, in `outputFolder`, or
// beside the entry when that is empty; a camera raw file's gets ".jpg" after its whole name.
QString thumbnailPath(const QString& entry, const QString& outputFolder = {});

// Sources that would be written to one thumbnail: each clash's thumbnail and its sources in
// list order. A path listed twice is one source (converted twice, as the list says).
struct Clash
{
    QString thumbnail;
    QStringList sources;
};
QList<Clash> thumbnailClashes(const QStringList& entries, const QString& outputFolder);

// Runs over `options.entries` in order. Returns false when it ended at a failed entry
// (the host said not to go on), true when it reached the end and showed "done".
bool run(const Options& options, Host& host);

} // namespace ConversionRun
