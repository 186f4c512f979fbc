#pragma once

// Builds small MP3 files for tests: MPEG audio frames with a recognisable pattern, and ID3 tags from byte
// templates, so tests do not depend on the tag code they check.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringEncoder>

namespace testmp3 {

// `count` MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, 417 bytes each); `seed` varies the payload.
inline QByteArray Audio(int count, int seed = 1)
{
    QByteArray out;
    out.reserve(count * 417);
    for (int f = 0; f < count; ++f) {
        out += QByteArray::fromHex("fffb9064");
        for (int i = 0; i < 413; ++i)
            out += char((i * 7 + f * 13 + seed * 31) % 251);
    }
    return out;
}

inline QByteArray Synchsafe(quint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 3; i >= 0; --i) {
        out[i] = char(v & 0x7F);
        v >>= 7;
    }
    return out;
}

inline QByteArray BigEndian(quint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 3; i >= 0; --i) {
        out[i] = char(v & 0xFF);
        v >>= 8;
    }
    return out;
}

// One frame: v2.3 sizes are plain numbers, v2.4 sizes synchsafe.
inline QByteArray Frame(const char *id, const QByteArray &body, int major = 3)
{
    return QByteArray(id, 4) + (major == 4 ? Synchsafe(quint32(body.size())) : BigEndian(quint32(body.size()))) +
           QByteArray(2, '\0') + body;
}

inline QByteArray Latin1Body(const QString &text) { return QByteArray(1, '\0') + text.toLatin1(); }

inline QByteArray Utf16Body(const QString &text)
{
    QByteArray out("\x01\xff\xfe", 3);
    for (const QChar c : text) {
        out += char(c.unicode() & 0xFF);
        out += char(c.unicode() >> 8);
    }
    return out;
}

inline QByteArray Utf8Body(const QString &text) { return QByteArray(1, '\x03') + text.toUtf8(); }

// COMM body with a Latin-1 description and text.
inline QByteArray CommentBody(const QString &description, const QString &text, const char *language = "eng")
{
    return QByteArray(1, '\0') + QByteArray(language, 3) + description.toLatin1() + QByteArray(1, '\0') +
           text.toLatin1();
}

// A whole ID3v2 tag around `frames`, with `padding` zero bytes.
inline QByteArray Tag(const QByteArray &frames, int major = 3, int padding = 0)
{
    return QByteArray("ID3") + char(major) + '\0' + '\0' + Synchsafe(quint32(frames.size() + padding)) + frames +
           QByteArray(padding, '\0');
}

// A 128-byte ID3v1.1 tag.
inline QByteArray V1(const QByteArray &title, const QByteArray &artist, const QByteArray &album,
                     const QByteArray &year, const QByteArray &comment, int track, int genre)
{
    auto field = [](const QByteArray &text, int size) { return text.left(size).leftJustified(size, '\0'); };
    return QByteArray("TAG") + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4) +
           field(comment, 28) + '\0' + char(track) + char(genre);
}

// A whole 1x1 PNG image; `padding` bytes after its end make it larger.
inline QByteArray PngImage(int padding = 0, char fill = 'p')
{
    return QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==") +
           QByteArray(padding, fill);
}

// A JPEG whose segments are whole up to the start of its scan (a 1x1 frame); `padding` bytes of comment.
inline QByteArray JpegImage(int padding = 0, char fill = 'j')
{
    QByteArray comment;
    for (int left = padding; left > 0; left -= 60000) {
        const int n = left > 60000 ? 60000 : left;
        comment += QByteArray("\xFF\xFE", 2) + char((n + 2) >> 8) + char((n + 2) & 0xFF) + QByteArray(n, fill);
    }
    return QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20) + comment +
           QByteArray("\xFF\xC0\x00\x0B\x08\x00\x01\x00\x01\x01\x01\x11\x00", 13) +
           QByteArray("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10) + QByteArray("\x12\x34\xFF\xD9", 4);
}

inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The frames of an ID3v2.3/2.4 tag at the start of `file` as (id, whole frame bytes), for frame-by-frame checks.
inline QList<QPair<QByteArray, QByteArray>> Frames(const QByteArray &file)
{
    QList<QPair<QByteArray, QByteArray>> out;
    if (!file.startsWith("ID3"))
        return out;
    const int major = uchar(file[3]);
    auto num = [&](qsizetype at, bool safe) {
        quint32 v = 0;
        for (int i = 0; i < 4; ++i)
            v = safe ? (v << 7) | uchar(file[at + i]) : (v << 8) | uchar(file[at + i]);
        return qsizetype(v);
    };
    const qsizetype end = 10 + num(6, true);
    qsizetype pos = 10;
    while (pos + 10 <= end && file[pos] != '\0') {
        const qsizetype size = num(pos + 4, major == 4);
        out.append({file.mid(pos, 4), file.mid(pos, 10 + size)});
        pos += 10 + size;
    }
    return out;
}

// The bytes between the ID3v2 tag and the ID3v1 tag: the audio, which no tag write may change.
inline QByteArray AudioOf(const QByteArray &file)
{
    qsizetype start = 0;
    if (file.startsWith("ID3")) {
        quint32 v = 0;
        for (int i = 6; i < 10; ++i)
            v = (v << 7) | uchar(file[i]);
        start = 10 + v;
    }
    qsizetype end = file.size();
    if (end - 128 >= start && file.mid(end - 128, 3) == "TAG")
        end -= 128;
    return file.mid(start, end - start);
}

} // namespace testmp3
