// SPDX-License-Identifier: MIT

#include "imaging/SaveAsJPG.h"

#include "imaging/JpegEncoder.h"
#include "runtime/AppError.h"

namespace SaveAsJPG {

void SaveJPEG(JpegEncoder::Facade& encoder, const QImage& picture, const QString& path,
    quint8 quality, const QByteArray& iccProfile)
{
    using namespace JpegEncoder;

    StartupInput input;
    input.gdiplusVersion = 1;
    Token token = 0;
    int status = encoder.startup(&token, input);
    if (status == Ok) {
        Bitmap* bitmap = nullptr;
        status = encoder.createBitmapFromPicture(picture, &bitmap);
        if (status == Ok && !iccProfile.isEmpty()) {
            status = encoder.setIccProfile(bitmap, iccProfile);
            if (status != Ok)
                encoder.disposeImage(bitmap);
        }
        if (status == Ok) {
            const QUuid clsid = QUuid::fromString(QStringView(jpegEncoderClsid));

            const quint32 qualityValue = quality;
            EncoderParameters parameters;
            parameters.count = 1;
            parameters.parameter[0].guid = QUuid::fromString(QStringView(encoderQualityGuid));
            parameters.parameter[0].numberOfValues = 1;
            parameters.parameter[0].type = encoderParameterValueTypeLong;
            parameters.parameter[0].value = &qualityValue;

            status = encoder.saveImageToFile(bitmap, path, clsid, &parameters);
            encoder.disposeImage(bitmap); // the save's status is the one that counts
        }
        encoder.shutdown(token);
    }
    if (status != Ok)
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Cannot save the image. GDI+ Error:") + QString::number(status))
            .withReason(systemReason(encoder.lastError()));
}

void SaveJPEG(const QImage& picture, const QString& path, quint8 quality)
{
    SaveJPEG(JpegEncoder::libjpeg(), picture, path, quality);
}

void SaveJPEG(
    const QImage& picture, const QString& path, quint8 quality, const QByteArray& iccProfile)
{
    SaveJPEG(JpegEncoder::libjpeg(), picture, path, quality, iccProfile);
}

} // namespace SaveAsJPG
