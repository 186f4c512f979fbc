#include "fileops/renamepattern.h"

#include "fileops/renamefile.h"

#include "tags/tagfile.h"

#include <QStringList>

namespace {

bool IsKnownCode(QChar code) { return QStringLiteral("ATBYGFK#$").contains(code.toUpper()); }

} // namespace

QString ExpandRenamePattern(const QString &pattern, const TrackRecord &row, long long &counter)
{
    QString name;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c != QLatin1Char('$')) {
            name += c;
            continue;
        }
        if (++i >= pattern.size())
            break;   // a "$" at the end is dropped
        switch (pattern[i].toUpper().unicode()) {
        case 'A': name += row[Column::Artist]; break;
        case 'T': name += row[Column::Title]; break;
        case 'B': name += row[Column::Album]; break;
        case 'Y': name += row[Column::Year]; break;
        case 'G': name += row[Column::Genre]; break;
        case 'F': name += row[Column::Filename]; break;
        case 'K': {
            const long long track = TagFile::LeadingNumber(row[Column::Track]);
            name += (track < 0 ? QStringLiteral("-") : QString()) +
                    QStringLiteral("%1").arg(track < 0 ? -track : track, 2, 10, QLatin1Char('0'));
            break;
        }
        case '#': name += QString::number(counter++); break;
        case '$': name += QLatin1Char('$'); break;
        default: break;   // an unknown code gives nothing
        }
    }
    return SafeFileName(name);
}

namespace {

// Blanks and dots at either end of a name: invisible, or a hidden file on Linux and refused on Windows.
QString Trimmed(const QString &name)
{
    qsizetype from = 0, to = name.size();
    while (from < to && (name[from].isSpace() || name[from] == QLatin1Char('.')))
        ++from;
    while (to > from && (name[to - 1].isSpace() || name[to - 1] == QLatin1Char('.')))
        --to;
    return name.mid(from, to - from);
}

bool UsesTagCodes(const QString &pattern)
{
    for (qsizetype i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == QLatin1Char('$') && QStringLiteral("ATBYGK").contains(pattern[++i].toUpper()))
            return true;
    }
    return false;
}

} // namespace

bool GivesNoTagText(const QString &pattern, const TrackRecord &row, long long counter)
{
    if (!UsesTagCodes(pattern))
        return false;   // the old name or the counter alone is what the user asked for
    TrackRecord untagged = row;
    for (const Column column : {Column::Title, Column::Artist, Column::Album, Column::Year, Column::Track,
                                Column::Comment, Column::Genre})
        untagged[column].clear();
    long long again = counter;
    return ExpandRenamePattern(pattern, row, counter) == ExpandRenamePattern(pattern, untagged, again);
}

QString RenamedFileName(const QString &pattern, const TrackRecord &row, long long &counter)
{
    // A name the tags give nothing to (" - .mp3" from "$A - $T" of an untagged file) is no name.
    const bool noTagText = GivesNoTagText(pattern, row, counter);
    const QString name = Trimmed(ExpandRenamePattern(pattern, row, counter));
    if (name.isEmpty() || noTagText)
        return QString();
    return name + QLatin1Char('.') + (IsMp3Extension(row[Column::Ext]) ? QStringLiteral("mp3") : row[Column::Ext]);
}

QStringList UnknownRenameCodes(const QString &pattern)
{
    QStringList unknown;
    for (qsizetype i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != QLatin1Char('$'))
            continue;
        const QString code = pattern.mid(++i, 1);
        if (!IsKnownCode(code[0]) && !unknown.contains(QLatin1Char('$') + code))
            unknown.append(QLatin1Char('$') + code);
    }
    return unknown;
}

QStringList DefaultRenamePatterns()
{
    return {QStringLiteral("$A - $T"), QStringLiteral("$A - $K - $T"), QStringLiteral("$K - $T")};
}
