// SPDX-License-Identifier: MIT

#include "imaging/FileBytes.h"

#include "imaging/BmpQt_p.h"
#include "imaging/bmpcore/FileRead.h"
#include "runtime/AppError.h"
#include "runtime/files/Fd.h"

#include <QFile>

QByteArray readFileBytes(const QString& path)
{
    QByteArray bytes;
    try {
        BmpCore::readFile(QFile::encodeName(path).toStdString(), bytes);
    } catch (const BmpCore::Error& error) {
        throw BmpQt::toAppError(error, path);
    }
    return bytes;
}

QByteArray readFileHead(const QString& path, int n)
{
    Files::UniqueFd file;
    try {
        std::int64_t size = 0;
        file = BmpCore::openRegular(QFile::encodeName(path).toStdString(), size);
    } catch (const BmpCore::Error& error) {
        throw BmpQt::toAppError(error, path);
    }
    QByteArray head(n, Qt::Uninitialized);
    const Files::ReadResult got = Files::readFull(file.get(), head.data(), size_t(n));
    if (got.error != 0)
        throw fileError(got.error, path);
    head.truncate(qsizetype(got.bytes));
    return head;
}

void throwInvalidPicture(const QString& path, const QString& reason)
{
    throw AppError::about(ErrorNumber::InvalidPicture, path).withReason(reason);
}

void throwOutOfMemory(const QString& path, const QString& reason)
{
    throw AppError::about(ErrorNumber::OutOfMemory, path).withReason(reason);
}
