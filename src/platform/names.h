#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// File names are bytes on Linux and need not be valid UTF-8 (collections copied from old FAT media hold
// Latin-1 names). Names are decoded as UTF-8 with each byte that is not part of a valid sequence mapped to
// U+DC80 + byte, and encoded back the same way, so every name on disk round-trips and two different names never
// become one. All conversion between paths and bytes goes through these two functions.
namespace platform {

QString DecodeName(const char *bytes, qsizetype length);
inline QString DecodeName(const QByteArray &bytes) { return DecodeName(bytes.constData(), bytes.size()); }
QByteArray EncodeName(QStringView name);

// A file:// URL of a path whose name's real bytes are percent-encoded, so a file manager given it finds the file
// even when its name is not UTF-8.
QUrl FileUrl(const QString &path);
// The path of a file:// URL by its percent-encoded bytes (the inverse of FileUrl); empty for other URLs.
QString PathOfFileUrl(const QUrl &url);

} // namespace platform
