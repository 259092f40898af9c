// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"

#include "runtime/AppError.h"
#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"

#include <QFile>

namespace ThumbnailWriters {

void writeWholeFile(const QString& path, const std::uint8_t* bytes, std::size_t size)
{
    // 0644 less the umask, as any file the program writes.
    Files::ReplacingFile file;
    int error = file.open(QFile::encodeName(path).toStdString(), 0644);
    if (!error)
        error = Files::writeFull(file.fd(), bytes, size);
    if (!error)
        error = file.commit();
    if (error)
        throw fileError(error, path);
}

} // namespace ThumbnailWriters
