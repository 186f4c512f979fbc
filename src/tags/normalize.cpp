#include "tags/normalize.h"

namespace {

bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

// The character (or surrogate pair) at `i` in upper case.
QString UpperAt(const QString &text, qsizetype i)
{
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return text.mid(i, 2).toUpper();
    return QString(text[i].toUpper());
}

qsizetype CharLength(const QString &text, qsizetype i)
{
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

bool IsLetterAt(const QString &text, qsizetype i)
{
    if (CharLength(text, i) == 2)
        return QChar::isLetter(QChar::surrogateToUcs4(text[i], text[i + 1]));
    return text[i].isLetter();
}

} // namespace

QString NormalizeTagText(const QString &input)
{
    qsizetype begin = 0, end = input.size();
    while (begin < end && IsBlank(input[begin]))
        ++begin;
    while (end > begin && IsBlank(input[end - 1]))
        --end;
    if (begin == end)
        return QString();
    QString text = input.mid(begin, end - begin);

    // Thin out double spaces, one step at a time (a long run keeps a double space).
    for (qsizetype i = 0; i < text.size() - 1; ++i) {
        const qsizetype pair = text.indexOf(QLatin1String("  "), i);
        if (pair >= 0)
            text.remove(pair, 1);
    }

    text = text.toLower();
    QString out;
    out.reserve(text.size());
    out += UpperAt(text, 0);
    for (qsizetype i = CharLength(text, 0); i < text.size();) {
        const QChar c = text[i];
        out += c;
        ++i;
        if (c == QLatin1Char(' ') && i < text.size() && IsLetterAt(text, i)) {
            out += UpperAt(text, i);
            i += CharLength(text, i);
        }
    }
    return out;
}
