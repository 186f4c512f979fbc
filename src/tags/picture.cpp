#include "tags/picture.h"

#include <QCoreApplication>
#include <QFile>

namespace {

QString tr(const char *text) { return QCoreApplication::translate("Picture", text); }

} // namespace

QString ImageMimeType(const QByteArray &bytes)
{
    if (bytes.startsWith(QByteArray("\xFF\xD8\xFF", 3)))
        return QStringLiteral("image/jpeg");
    if (bytes.startsWith(QByteArray("\x89PNG\r\n\x1A\n", 8)))
        return QStringLiteral("image/png");
    return QString();
}

bool LoadPicture(const QString &path, Picture &picture, QString &error)
{
    picture = Picture();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = tr("%1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > kMaxPictureSize) {
        error = tr("%1: the image is larger than 16 MiB; a cover must be smaller").arg(path);
        return false;
    }
    // Read one byte past the limit, so a file that grew since its size was taken is still refused.
    const QByteArray data = file.read(kMaxPictureSize + 1);
    if (file.error() != QFileDevice::NoError) {
        error = tr("%1: %2").arg(path, file.errorString());
        return false;
    }
    if (data.size() > kMaxPictureSize) {
        error = tr("%1: the image is larger than 16 MiB; a cover must be smaller").arg(path);
        return false;
    }
    const QString mime = ImageMimeType(data);
    if (mime.isEmpty()) {
        error = tr("%1: not a JPEG or PNG image").arg(path);
        return false;
    }
    picture.data = data;
    picture.mime = mime;
    return true;
}

QString PictureExtension(const QString &mime)
{
    if (mime == QLatin1String("image/jpeg") || mime == QLatin1String("image/jpg"))
        return QStringLiteral("jpg");
    if (mime == QLatin1String("image/png"))
        return QStringLiteral("png");
    return QString();
}
