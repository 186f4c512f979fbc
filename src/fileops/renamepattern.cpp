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

QString RenamedFileName(const QString &pattern, const TrackRecord &row, long long &counter)
{
    const QString name = ExpandRenamePattern(pattern, row, counter);
    if (name.isEmpty())
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
