#pragma once

#include <QByteArray>
#include <QString>

// A picture of a tag: the image's bytes and their MIME type.
struct Picture
{
    QByteArray data;
    QString mime;

    bool IsEmpty() const { return data.isEmpty(); }
};

// The largest image we put into a tag: covers are far smaller, and a tag must stay under 64 MiB.
constexpr qint64 kMaxPictureSize = qint64(16) << 20;

// "image/jpeg" or "image/png" by the bytes' signature (never by a file name); empty for anything else.
QString ImageMimeType(const QByteArray &bytes);

// Reads an image file for a cover. False, with the reason in `error`, for a file that cannot be read, that is
// larger than kMaxPictureSize, or that is neither JPEG nor PNG.
bool LoadPicture(const QString &path, Picture &picture, QString &error);

// The usual file name extension for a picture's type ("jpg", "png"), empty when unknown.
QString PictureExtension(const QString &mime);
