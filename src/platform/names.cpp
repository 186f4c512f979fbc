#include "platform/names.h"

namespace platform {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at `p` (strict: no overlong forms, no surrogates, nothing above U+10FFFF),
// or 0 when the bytes there are not one.
int ValidSequence(const uchar *p, qsizetype left)
{
    const uchar b = p[0];
    if (b < 0x80)
        return 1;
    int length = 0;
    uchar low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;   // U+D800..U+DFFF are not characters
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

QString DecodeName(const char *bytes, qsizetype length)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes);
    // Most names are plain UTF-8: decode them in one call.
    qsizetype i = 0;
    while (i < length) {
        const int n = ValidSequence(p + i, length - i);
        if (n == 0)
            break;
        i += n;
    }
    if (i == length)
        return QString::fromUtf8(bytes, length);

    QString out = QString::fromUtf8(bytes, i);
    qsizetype runStart = i;
    auto flush = [&](qsizetype end) {
        if (end > runStart)
            out += QString::fromUtf8(bytes + runStart, end - runStart);
    };
    while (i < length) {
        const int n = ValidSequence(p + i, length - i);
        if (n > 0) {
            i += n;
            continue;
        }
        flush(i);
        out += QChar(char16_t(kEscapeBase + p[i]));
        ++i;
        runStart = i;
    }
    flush(length);
    return out;
}

QByteArray EncodeName(QStringView name)
{
    QByteArray out;
    qsizetype runStart = 0;
    const qsizetype size = name.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = name[i].unicode();
        if (c < 0xDC80 || c > 0xDCFF)
            continue;
        // A low surrogate in 0xDC80..0xDCFF that does not complete a pair stands for one raw byte.
        if (i > 0 && QChar::isHighSurrogate(name[i - 1].unicode()))
            continue;
        out += name.mid(runStart, i - runStart).toUtf8();
        out += char(c - kEscapeBase);
        runStart = i + 1;
    }
    if (runStart == 0)
        return name.toUtf8();
    out += name.mid(runStart).toUtf8();
    return out;
}

QUrl FileUrl(const QString &path)
{
    return QUrl::fromEncoded("file://" + EncodeName(path).toPercentEncoding("/"), QUrl::StrictMode);
}

QString PathOfFileUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return QString();
    // The encoded path keeps each byte as it was sent; decoding it as text would turn a Latin-1 byte into U+FFFD.
    return DecodeName(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

} // namespace platform
