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
// Whether a JPEG or PNG holds an image, by its structure: a JPEG's segments up to a frame of some size and the
// start of its scan; a PNG's checked header of some size, its image data and its end. Magic bytes alone are not.
bool ImageIsWhole(const QByteArray &bytes);

// Reads an image file for a cover. False, with the reason in `error`, for a file that cannot be read, that is
// larger than kMaxPictureSize, that is not a regular file (a FIFO is never waited on), or that is no whole JPEG or
// PNG image.
bool LoadPicture(const QString &path, Picture &picture, QString &error);

// The usual file name extension for a picture's type ("jpg", "png"), empty when unknown.
QString PictureExtension(const QString &mime);
