#include "tags/picture.h"

#include "platform/fileio.h"

#include <QCoreApplication>

#include <cerrno>

namespace {

QString tr(const char *text) { return QCoreApplication::translate("Picture", text); }

quint32 BigEndian32(const QByteArray &b, qsizetype at)
{
    return (quint32(uchar(b[at])) << 24) | (quint32(uchar(b[at + 1])) << 16) | (quint32(uchar(b[at + 2])) << 8) |
           quint32(uchar(b[at + 3]));
}

quint32 Crc32(const char *data, qsizetype length)
{
    quint32 crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < length; ++i) {
        crc ^= uchar(data[i]);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A JPEG's segments from its start to its scan: a frame header with a size, then the start of the scan.
bool JpegHoldsAnImage(const QByteArray &b)
{
    bool frame = false;
    for (qsizetype at = 2; at + 4 <= b.size();) {
        if (uchar(b[at]) != 0xFF)
            return false;
        const uchar marker = uchar(b[at + 1]);
        if (marker == 0xFF) {   // fill bytes
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const qsizetype length = (qsizetype(uchar(b[at + 2])) << 8) | uchar(b[at + 3]);
        if (length < 2 || at + 2 + length > b.size())
            return false;
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            if (length < 8)
                return false;
            const int height = (uchar(b[at + 5]) << 8) | uchar(b[at + 6]);
            const int width = (uchar(b[at + 7]) << 8) | uchar(b[at + 8]);
            if (width == 0 || height == 0)
                return false;
            frame = true;
        }
        if (marker == 0xDA)
            return frame;   // the scan starts: the image's data follow
        at += 2 + length;
    }
    return false;
}

// A PNG's chunks: a header whose check holds and that gives a size, image data, and the end.
bool PngHoldsAnImage(const QByteArray &b)
{
    bool header = false, data = false;
    for (qsizetype at = 8; at + 12 <= b.size();) {
        const qsizetype length = qsizetype(BigEndian32(b, at));
        if (length > b.size() - at - 12)
            return false;
        const QByteArray type = b.mid(at + 4, 4);
        if (!header) {
            if (type != "IHDR" || length != 13 || Crc32(b.constData() + at + 4, 4 + length) != BigEndian32(b, at + 8 + length) ||
                BigEndian32(b, at + 8) == 0 || BigEndian32(b, at + 12) == 0)
                return false;
            header = true;
        }
        if (type == "IDAT")
            data = true;
        if (type == "IEND")
            return data;
        at += 12 + length;
    }
    return false;
}

} // namespace

QString ImageMimeType(const QByteArray &bytes)
{
    if (bytes.startsWith(QByteArray("\xFF\xD8\xFF", 3)))
        return QStringLiteral("image/jpeg");
    if (bytes.startsWith(QByteArray("\x89PNG\r\n\x1A\n", 8)))
        return QStringLiteral("image/png");
    return QString();
}

bool ImageIsWhole(const QByteArray &bytes)
{
    const QString mime = ImageMimeType(bytes);
    return mime == QLatin1String("image/jpeg") ? JpegHoldsAnImage(bytes) : !mime.isEmpty() && PngHoldsAnImage(bytes);
}

bool LoadPicture(const QString &path, Picture &picture, QString &error)
{
    picture = Picture();
    // Opened without blocking and read only when it is a regular file: a FIFO or a device never holds us up.
    platform::ReadOnlyFile file;
    if (const int status = file.Open(path)) {
        error = status == EINVAL ? tr("%1: not a regular file; a cover is read from an image file").arg(path)
                                 : tr("%1: %2").arg(path, platform::ErrorText(status));
        return false;
    }
    if (file.Status().size > kMaxPictureSize) {
        error = tr("%1: the image is larger than 16 MiB; a cover must be smaller").arg(path);
        return false;
    }
    // Read one byte past the limit, so a file that grew since its size was taken is still refused.
    QByteArray data;
    if (const int status = file.ReadAt(0, kMaxPictureSize + 1, data)) {
        error = tr("%1: %2").arg(path, platform::ErrorText(status));
        return false;
    }
    if (data.size() > kMaxPictureSize) {
        error = tr("%1: the image is larger than 16 MiB; a cover must be smaller").arg(path);
        return false;
    }
    const QString mime = ImageMimeType(data);
    if (mime.isEmpty() || !ImageIsWhole(data)) {
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
