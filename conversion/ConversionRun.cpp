// SPDX-License-Identifier: MIT

#include "conversion/ConversionRun.h"

#include "conversion/ConverterMessage.h"
#include "conversion/DecodeAhead.h"
#include "conversion/FileNames.h"
#include "conversion/FileThumbnail.h"
#include "conversion/PictureScaling.h"
#include "conversion/ReadingProgram.h"
#include "conversion/ScratchFolder.h"
#include "imaging/FileBytes.h"
#include "imaging/Pictures.h"
#include "imaging/SaveAsJPG.h"
#include "imaging/ThumbnailWriters.h"
#include "imaging/core/Kinds.h"
#include "runtime/Logging.h"
#include "runtime/Runtime.h"
#include "runtime/Shell32.h"
#include "runtime/ShortFilename.h"
#include "runtime/files/ReplacingFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace ConversionRun {
namespace {

using Kinds::Kind;

// The kind the name gives (the table of kinds); anything else, or no extension: passed over.
Kind kindOf(const QString& extension)
{
    return Kinds::fromExtension(extension.toStdString());
}

// The kind the file's first bytes show.
Kind contentOf(const QString& path)
{
    const QByteArray head = readFileHead(path, int(Kinds::headBytes));
    return Kinds::fromContent(
        reinterpret_cast<const unsigned char*>(head.constData()), std::size_t(head.size()));
}

const int hiddenWindow = 0;

// Why a converter that wrote nothing failed: its own words, else the signal that ended it.
QString failureReason(const Shell32::ErrorOutput& errors, qint32 code, const QString& program,
    const QStringList& files)
{
    const QString said = ConverterMessage::reason(
        errors.bytes, errors.truncated, FileNames::GetFileName(program), files);
    if (!said.isEmpty() || code >= 0)
        return said;
    return QStringLiteral("ended by signal %1 (%2)")
        .arg(-code)
        .arg(QString::fromLocal8Bit(strsignal(-code)));
}

// Starts a converter and makes sure it wrote `output`; the exit code alone proves
// nothing, and a missing file would otherwise surface later as a puzzling error.
void runConverter(const QString& program, const QString& output, const QString& input,
    const QString& options = QString(), const Shell32::Cancellation* cancellation = nullptr)
{
    // A file left by an earlier, interrupted run must not pass for the converter's work.
    if (QFile::exists(output))
        Runtime::Kill(output);
    const QString commandLine = Runtime::quoteArgument(program)
        + (options.isEmpty() ? QString() : QLatin1Char(' ') + options) + QStringLiteral(" -O ")
        + Runtime::quoteArgument(output) + QLatin1Char(' ') + Runtime::quoteArgument(input);
    Shell32::ErrorOutput errors;
    const qint32 code = Shell32::RunAndWait(commandLine, hiddenWindow, errors, cancellation);
    if (QFile::exists(output))
        return;
    // Start failures are far below the negated signal numbers of a converter that crashed.
    if (code < -255)
        throw AppError(ErrorNumber::FileNotFound,
            QStringLiteral("The converter could not be started: %1").arg(program));
    QString message = QStringLiteral("The converter did not write %1 from %2").arg(output, input);
    const QString reason = failureReason(errors, code, program, { input, output });
    if (!reason.isEmpty())
        message += QStringLiteral(": ") + reason;
    throw AppError(ErrorNumber::FileNotFound, message);
}

std::function<QSize(QSize)> targetFor(float factor)
{
    return [factor](QSize full) {
        return PictureScaling::storedSize(PictureScaling::thumbnailSize(full, factor));
    };
}

// Reads a picture file and scales it to its thumbnail size at `factor`. The colour space the
// file declares goes with the picture, into its thumbnail. Reentrant.
FileThumbnail::Picture readAndScale(const QString& path, float factor)
{
    return FileThumbnail::read(path, targetFor(factor));
}

// A BMP or JPEG under the name of a kind the reading program reads: read here, as what it is.
ReadingProgram::Read readInProcess(const QString& path, float factor, Kind content)
{
    ReadingProgram::Read read;
    read.picture = readAndScale(path, factor);
    read.kind = content;
    read.lossy = content == Kind::Jpeg;
    return read;
}

// Reads a picture through the reading program into the scratch file of `worker` (0: the
// run's own thread, whose file a failed entry's clean-up removes; a worker removes its own).
ReadingProgram::Read readThroughProgram(const ScratchFolder& scratch, const QString& programFolder,
    const QString& path, float factor, int worker,
    const Shell32::Cancellation* cancellation = nullptr)
{
    const QString output = scratch.file(ScratchFolder::readingFile(worker));
    const auto removeOwn = qScopeGuard([&] {
        if (worker != 0)
            QFile::remove(output);
    });
    const long percentage = std::lround(double(factor) * 100.0);
    runConverter(ShortFilename::GetShortName(programFolder) + QStringLiteral("/pictelle-read"),
        output, path, QStringLiteral("-p %1").arg(percentage), cancellation);
    ReadingProgram::Read read = ReadingProgram::fromScratchFile(output, path);
    Runtime::Kill(output); // only once the picture is held
    return read;
}

// The thumbnail file of a kind the reading program reads, as its name says: an animation
// stays one where the kind has them; a TIFF gets the first frame.
std::vector<std::uint8_t> encodeThumbnail(
    Kind kind, const ReadingProgram::Read& read, const QString& thumbnail, int quality)
{
    const FileThumbnail::Picture& picture = read.picture;
    ThumbnailWriters::Settings settings;
    settings.quality = quality;
    settings.lossy = read.lossy;
    settings.compression = read.compression;
    settings.sourceBits = read.sourceBits;
    settings.cicp = read.cicp;
    if (picture.colour.kind == ImageCore::ColourSpace::Kind::Embedded)
        settings.iccProfile = picture.colour.profile;
    const bool animated = !read.frames.empty();
    switch (kind) {
    case Kind::WebP:
        return animated
            ? ThumbnailWriters::encodeAnimatedWebP(read.frames, read.loopCount, thumbnail, settings)
            : ThumbnailWriters::encodeWebP(picture.image, thumbnail, settings);
    case Kind::Tiff:
        return ThumbnailWriters::encodeTiff(picture.image, thumbnail, settings);
    case Kind::Gif:
        return animated
            ? ThumbnailWriters::encodeAnimatedGif(read.frames, read.loopCount, thumbnail)
            : ThumbnailWriters::encodeGif(picture.image, thumbnail, settings);
    case Kind::Heif:
        return ThumbnailWriters::encodeHeif(picture.image, thumbnail, settings);
    case Kind::Avif:
        return ThumbnailWriters::encodeAvif(picture.image, thumbnail, settings);
    case Kind::Jxl:
        return animated
            ? ThumbnailWriters::encodeAnimatedJxl(read.frames, read.loopCount, thumbnail, settings)
            : ThumbnailWriters::encodeJxl(picture.image, thumbnail, settings);
    default:
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("No writer for this kind of thumbnail: %1").arg(thumbnail));
    }
}

// The writers of BMP, JPEG and PNG thumbnails take 8 bits per sample.
FileThumbnail::Picture eightBit(FileThumbnail::Picture picture)
{
    if (picture.image.depth() == 64)
        picture.image = picture.image.convertToFormat(
            picture.image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return picture;
}

// What the log says of a picture the reading program's kinds were read as.
QString noteOf(const ReadingProgram::Read& read)
{
    const QSize size = read.picture.image.size();
    return QStringLiteral("read as %1 scaled to %2x%3 lossy %4 frames %5")
        .arg(QString::fromLatin1(Kinds::nameOf(read.kind)))
        .arg(size.width())
        .arg(size.height())
        .arg(read.lossy)
        .arg(read.frames.size());
}

// What waits for the entry's turn once a kind of the reading program is read: the thumbnail's
// file, or, for one written as JPEG (camera raw), its picture for the JPEG writer. Only the
// file's bytes wait otherwise: the pictures held as well would multiply a run's memory by
// the results held ahead.
void completeRead(Kind kind, const ReadingProgram::Read& read, const QString& thumbnail,
    int quality, DecodeAhead::Prepared& prepared)
{
    if (Kinds::writtenAs(kind) == Kind::Jpeg)
        prepared.picture = eightBit(read.picture);
    else
        prepared.encoded = encodeThumbnail(kind, read, thumbnail, quality);
    prepared.note = noteOf(read);
}

// What is done of an entry ahead of its turn (on a worker) or at it: a BMP or JPEG picture
// read and scaled; a kind of the reading program read and encoded, unless its content is
// PNG (png2bmp and temp1.bmp belong to the entry's turn).
DecodeAhead::Prepared prepare(const ScratchFolder& scratch, const Options& options, float factor,
    int quality, const Shell32::Cancellation* cancellation, const QString& path, int worker)
{
    DecodeAhead::Prepared prepared;
    const Kind kind = kindOf(FileNames::GetExtension(FileNames::GetFileName(path)));
    if (Kinds::readerOf(kind) != Kinds::Reader::ReadingProgram) {
        prepared.picture = readAndScale(path, factor);
        return prepared;
    }
    const Kind content = contentOf(path);
    ReadingProgram::Read read;
    switch (Kinds::readerOf(content)) {
    case Kinds::Reader::InProcess:
        read = readInProcess(path, factor, content);
        break;
    case Kinds::Reader::Png2Bmp:
        prepared.atTurn = true;
        return prepared;
    default:
        // Unknown content too: the reading program says what it is not.
        read = readThroughProgram(
            scratch, options.programFolder, path, factor, worker, cancellation);
        break;
    }
    completeRead(kind, read, thumbnailPath(path, options.outputFolder), quality, prepared);
    return prepared;
}

class EntryRun
{
public:
    EntryRun(const ScratchFolder& scratch, const Options& options, float factor, int quality,
        DecodeAhead& ahead, qsizetype index, Host& host)
        : m_scratch(scratch)
        , m_programFolder(options.programFolder)
        , m_outputFolder(options.outputFolder)
        , m_factor(factor)
        , m_quality(quality)
        , m_ahead(ahead)
        , m_index(index)
        , m_host(host)
    {
    }

    // Removes what a failed entry left in the scratch folder.
    ~EntryRun()
    {
        if (m_finished)
            return;
        for (const QString& name : { QStringLiteral("temp1.bmp"), QStringLiteral("temp.bmp"),
                 m_outputName, QStringLiteral("temp1.read") }) {
            if (!name.isEmpty())
                QFile::remove(m_scratch.file(name));
        }
    }

    void convert(const QString& path)
    {
        // A name whose bytes are not UTF-8 reaches us with U+FFFD in their place; that name
        // may belong to another file, which must not be converted in its stead.
        if (path.contains(QChar::ReplacementCharacter))
            throw AppError(ErrorNumber::PathFileAccess,
                QStringLiteral("The file name is not valid UTF-8: %1").arg(path));
        const QString extension = FileNames::GetExtension(FileNames::GetFileName(path));
        const Kind kind = kindOf(extension);
        if (kind == Kind::None) {
            m_finished = true;
            return;
        }
        if (Kinds::readerOf(kind) == Kinds::Reader::ReadingProgram) {
            convertByTable(path, kind);
            return;
        }
        const FileThumbnail::Picture picture = readScaled(path, kind);
        const QImage& scaled = picture.image;
        // The thumbnail carries the source's colour space and nothing else of its metadata:
        // temp.bmp takes it to bmp2png, the BMP and JPEG writers get it here.
        const ImageCore::ColourSpace& colour = picture.colour;
        qCInfo(lcConversion).noquote() << "entry" << m_index + 1 << path << "scaled to"
                                       << scaled.size() << "colour space" << int(colour.kind);

        // The scaled picture is always kept as temp.bmp: bmp2png reads it, and it stays
        // after a JPEG entry as the record of the last picture read.
        saveScratch(scaled, m_scratch.file(QStringLiteral("temp.bmp")), colour);
        m_outputName = QStringLiteral("temp.") + extension;
        const QString output = m_scratch.file(m_outputName);
        const QString thumbnail = thumbnailPath(path, m_outputFolder);

        switch (kind) {
        case Kind::Jpeg:
            // temp.bmp holds exactly `scaled`; no need to read it back.
            saveJpeg(scaled, thumbnail, colour);
            m_finished = true;
            return;
        case Kind::Png:
            runConverter(m_programFolder + QStringLiteral("/bmp2png"), output,
                m_scratch.file(QStringLiteral("temp.bmp")));
            // Nothing reads this file before it becomes the thumbnail: a converter that
            // left an empty or foreign file must not pass.
            if (!readFileHead(output, 8).startsWith("\x89PNG\r\n\x1a\n"))
                throw AppError(ErrorNumber::InvalidPicture,
                    QStringLiteral("The converter wrote no PNG picture: %1").arg(output));
            break;
        case Kind::Bmp:
            saveScratch(scaled, output, colour);
            break;
        default:
            break;
        }
        Runtime::FileCopy(output, thumbnail);
        Runtime::Kill(output);
        const QString tempBmp = m_scratch.file(QStringLiteral("temp.bmp"));
        if (Runtime::pathExists(tempBmp))
            Runtime::Kill(tempBmp);
        m_finished = true;
    }

private:
    FileThumbnail::Picture readScaled(const QString& path, Kind kind)
    {
        if (kind != Kind::Png) {
            try {
                return m_ahead.take(m_index).picture;
            } catch (const AppError& e) {
                // A picture of another kind under this name: its content decides.
                if (e.number() != ErrorNumber::InvalidPicture
                    || Kinds::readerOf(contentOf(path)) != Kinds::Reader::ReadingProgram)
                    throw;
            }
            return eightBit(readByProgram(path).picture);
        }
        // A missing file, a folder, pipe or device is reported here: png2bmp would wait for
        // a pipe's writer without end.
        if (Kinds::readerOf(contentOf(path)) == Kinds::Reader::ReadingProgram)
            return eightBit(readByProgram(path).picture);
        return readPng(path);
    }

    FileThumbnail::Picture readPng(const QString& path)
    {
        const QString source = m_scratch.file(QStringLiteral("temp1.bmp"));
        runConverter(ShortFilename::GetShortName(m_programFolder) + QStringLiteral("/png2bmp"),
            source, path);
        FileThumbnail::Picture scaled = readAndScale(source, m_factor);
        Runtime::Kill(source); // only once the picture is held
        return scaled;
    }

    // Reads any kind the content shows, the reading program's kinds through it.
    ReadingProgram::Read readAnyKind(const QString& path)
    {
        const Kind content = contentOf(path);
        switch (Kinds::readerOf(content)) {
        case Kinds::Reader::InProcess:
            return readInProcess(path, m_factor, content);
        case Kinds::Reader::Png2Bmp:
            return { readPng(path), content, false, 0, {}, 0, 8, {} };
        default:
            // Unknown content too: the reading program says what it is not.
            return readByProgram(path);
        }
    }

    ReadingProgram::Read readByProgram(const QString& path)
    {
        return readThroughProgram(m_scratch, m_programFolder, path, m_factor, 0);
    }

    // A kind of the table beyond BMP, JPEG and PNG: read by what its content is, written as
    // its name says, straight to the thumbnail (no scratch copy: no converter reads it).
    void convertByTable(const QString& path, Kind kind)
    {
        DecodeAhead::Prepared prepared = m_ahead.take(m_index);
        const QString thumbnail = thumbnailPath(path, m_outputFolder);
        if (prepared.atTurn)
            completeRead(kind, readAnyKind(path), thumbnail, m_quality, prepared);
        qCInfo(lcConversion).noquote() << "entry" << m_index + 1 << path << prepared.note;
        if (Kinds::writtenAs(kind) == Kind::Jpeg)
            saveJpeg(prepared.picture.image, thumbnail, prepared.picture.colour);
        else
            ThumbnailWriters::writeWholeFile(thumbnail, prepared.encoded);
        m_finished = true;
    }

    // A scratch file is written anew rather than replaced: replacing a file needs a named
    // temporary for an instant, which a run killed in that instant would leave behind, and
    // nothing needs the old scratch file while the new one is written.
    static void saveScratch(
        const QImage& picture, const QString& path, const ImageCore::ColourSpace& colour)
    {
        QFile::remove(path);
        Pictures::SavePicture(picture, path, colour);
    }

    void saveJpeg(
        const QImage& picture, const QString& thumbnail, const ImageCore::ColourSpace& colour)
    {
        const auto quality = static_cast<quint8>(m_host.percentage());
        // Only a JPEG source gives a JPEG thumbnail, and its colour space is a profile or none.
        const QByteArray profile = colour.kind == ImageCore::ColourSpace::Kind::Embedded
            ? QByteArray(reinterpret_cast<const char*>(colour.profile.data()),
                qsizetype(colour.profile.size()))
            : QByteArray();
        try {
            SaveAsJPG::SaveJPEG(picture, thumbnail, quality, profile);
        } catch (const AppError& e) {
            // The writer's message does not say which file it could not write.
            throw AppError(e.number(), e.description() + QLatin1Char('\n') + thumbnail);
        }
    }

    const ScratchFolder& m_scratch;
    const QString& m_programFolder;
    const QString& m_outputFolder;
    const float m_factor;
    const int m_quality;
    DecodeAhead& m_ahead;
    const qsizetype m_index;
    Host& m_host;
    QString m_outputName;
    bool m_finished = false;
};

} // namespace

bool makesThumbnail(const QString& entry)
{
    return kindOf(FileNames::GetExtension(FileNames::GetFileName(entry))) != Kind::None;
}

QString thumbnailPath(const QString& entry, const QString& outputFolder)
{
    const qsizetype k = entry.lastIndexOf(QLatin1Char('/')) + 1;
    // A thumbnail of another kind than its source keeps the source's whole name and gets its
    // own extension after it, so that a camera's raw and JPEG of one shot never share one.
    const QString name = entry.mid(k);
    const QString suffix = QString::fromStdString(
        Kinds::thumbnailSuffix(kindOf(name.mid(name.lastIndexOf(QLatin1Char('.')) + 1))));
    if (outputFolder.isEmpty())
        return entry.left(k) + QLatin1Char('t') + name + suffix;
    QString folder = outputFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QLatin1Char('t') + name + suffix;
}

QList<Clash> thumbnailClashes(const QStringList& entries, const QString& outputFolder)
{
    QList<Clash> clashes;
    QHash<QString, qsizetype> byThumbnail; // cleaned thumbnail path -> index in `clashes`
    for (const QString& entry : entries) {
        if (!makesThumbnail(entry))
            continue;
        const QString thumbnail = QDir::cleanPath(thumbnailPath(entry, outputFolder));
        const auto found = byThumbnail.constFind(thumbnail);
        if (found == byThumbnail.cend()) {
            byThumbnail.insert(thumbnail, clashes.size());
            clashes.append({ thumbnail, { entry } });
            continue;
        }
        QStringList& sources = clashes[*found].sources;
        const QString source = QDir::cleanPath(entry);
        if (std::none_of(sources.cbegin(), sources.cend(),
                [&](const QString& s) { return QDir::cleanPath(s) == source; }))
            sources.append(entry);
    }
    clashes.removeIf([](const Clash& c) { return c.sources.size() < 2; });
    return clashes;
}

bool run(const Options& options, Host& host)
{
    const int percentage = host.percentage();
    const float factor = PictureScaling::scaleFactor(percentage);
    const qsizetype n = options.entries.size();
    if (n <= 0)
        return true;
    QStringList thumbnails;
    for (const QString& entry : options.entries)
        thumbnails.append(thumbnailPath(entry, options.outputFolder));
    const ScratchFolder scratch(options.programFolder, options.entries, thumbnails);
    qCInfo(lcConversion) << n << "entries at" << percentage << "%";

    // BMP and JPEG entries are read from their own files, which the workers may read ahead;
    // a PNG entry is read through png2bmp and temp1.bmp, which exists only for the length
    // of its own entry, so it is read at its turn. The reading program's kinds are read and
    // encoded ahead, each worker through a scratch file of its own.
    std::vector<bool> ahead;
    for (const QString& entry : options.entries) {
        const Kind kind = kindOf(FileNames::GetExtension(FileNames::GetFileName(entry)));
        ahead.push_back(kind == Kind::Bmp || kind == Kind::Jpeg
            || Kinds::readerOf(kind) == Kinds::Reader::ReadingProgram);
    }
    // Held ahead are BMP and JPEG thumbnails, and the files of the other kinds' thumbnails;
    // a read in progress holds a BMP's block of rows, a JPEG decoded at the smallest DCT
    // scale that covers its thumbnail, or a reading program's thumbnail (the program's own
    // memory is limited). The bytes held bound the memory however many cores there are.
    constexpr qint64 maxBytesAhead = qint64(256) << 20;
    const int workers = DecodeAhead::defaultWorkers();
    // Declared before the read-ahead, so that it outlives the workers that use it.
    Shell32::Cancellation readsAhead;
    DecodeAhead prepared(
        options.entries, std::move(ahead),
        [&scratch, &options, factor, percentage, &readsAhead](const QString& path, int worker) {
            return prepare(scratch, options, factor, percentage, &readsAhead, path, worker);
        },
        workers, workers + 1, maxBytesAhead);
    // However the run ends, a reading program still working ahead for it is ended (and so
    // takes its scratch file with it) rather than waited for.
    const auto stopReadsAhead = qScopeGuard([&readsAhead] { readsAhead.cancel(); });

    // A run killed by SIGKILL or a power cut may have left a named temporary in a folder it
    // wrote to; each folder this run writes to is swept once, before its first write.
    QSet<QString> swept;
    const auto sweep = [&swept](const QString& folder) {
        if (swept.contains(folder))
            return;
        swept.insert(folder);
        if (const int removed
            = Files::removeStaleTemporaries(QFile::encodeName(folder).toStdString()))
            qCInfo(lcConversion).noquote()
                << "removed" << removed << "stale temporaries in" << folder;
    };
    sweep(scratch.path());

    // Two sources may name one thumbnail (IMG_1.CR2 and IMG_1.CR2.jpg give tIMG_1.CR2.jpg);
    // the later one must not replace what the earlier one wrote. Cleaned thumbnail -> source.
    QHash<QString, QString> written;
    for (qsizetype i = 1; i <= n; ++i) {
        const int count = host.entryCount();
        host.setProgress(static_cast<float>(double(i) / double(count > 0 ? count : n) * 100.0));
        try {
            const QString& path = options.entries.at(i - 1);
            const bool makes = makesThumbnail(path);
            const QString thumbnail = QDir::cleanPath(thumbnails.at(i - 1));
            if (makes) {
                const qsizetype slash = thumbnail.lastIndexOf(QLatin1Char('/'));
                sweep(slash < 0 ? QString() : thumbnail.left(std::max<qsizetype>(slash, 1)));
                const auto earlier = written.constFind(thumbnail);
                if (earlier != written.cend() && *earlier != QDir::cleanPath(path))
                    throw AppError(ErrorNumber::PathFileAccess,
                        QStringLiteral("%1 would replace the thumbnail %2 of %3")
                            .arg(path, thumbnails.at(i - 1), *earlier));
            }
            EntryRun entry(scratch, options, factor, percentage, prepared, i - 1, host);
            entry.convert(path);
            if (makes)
                written.insert(thumbnail, QDir::cleanPath(path));
        } catch (const AppError& e) {
            // A converter's or a scratch file's message does not say which entry failed.
            const QString& entry = options.entries.at(i - 1);
            const bool named = e.description().contains(entry);
            if (!host.goOnAfter(
                    named ? e : AppError(e.number(), e.description() + QLatin1Char('\n') + entry),
                    i < n))
                return false;
        } catch (const std::bad_alloc&) {
            const AppError e = AppError::about(ErrorNumber::OutOfMemory, options.entries.at(i - 1));
            if (!host.goOnAfter(e, i < n))
                return false;
        }
    }
    host.showDone();
    return true;
}

} // namespace ConversionRun
