#include "fileops/namepattern.h"

#include "tags/tagfile.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString tr(const char *text) { return QCoreApplication::translate("NamePattern", text); }

// The field of a code letter, or Column::Count for a letter that is no field code.
Column ColumnOfCode(QChar code)
{
    switch (code.toUpper().unicode()) {
    case 'A': return Column::Artist;
    case 'T': return Column::Title;
    case 'B': return Column::Album;
    case 'Y': return Column::Year;
    case 'K': return Column::Track;
    case 'G': return Column::Genre;
    default: return Column::Count;
    }
}

QString GroupName(Column column) { return QStringLiteral("c%1").arg(int(column)); }

} // namespace

bool NamePattern::Parse(const QString &pattern, QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        m_expression = QRegularExpression();
        m_columns.clear();
        return false;
    };
    m_columns.clear();
    m_folders = int(pattern.count(QLatin1Char('/')));
    if (pattern.isEmpty())
        return fail(tr("The pattern is empty."));

    // Split into literal texts and codes first: the last code is told apart from the others.
    struct Piece
    {
        QString literal;
        Column column = Column::Count;   // Count: a literal
    };
    QList<Piece> pieces;
    qsizetype lastCode = -1;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != QLatin1Char('$')) {
            if (pieces.isEmpty() || pieces.back().column != Column::Count)
                pieces.append(Piece());
            pieces.back().literal += pattern[i];
            continue;
        }
        if (i + 1 >= pattern.size())
            return fail(tr("The pattern ends with a lone \"$\"; write \"$$\" for a dollar sign."));
        const QChar code = pattern[++i];
        if (code == QLatin1Char('$')) {
            if (pieces.isEmpty() || pieces.back().column != Column::Count)
                pieces.append(Piece());
            pieces.back().literal += QLatin1Char('$');
            continue;
        }
        const Column column = ColumnOfCode(code);
        if (column == Column::Count)
            return fail(tr("\"$%1\" cannot be read from a file name; the codes are $A $T $B $Y $K $G.").arg(code));
        lastCode = pieces.size();
        pieces.append(Piece{QString(), column});
    }
    if (lastCode < 0)
        return fail(tr("The pattern has no code, so it takes nothing from a name."));

    QString expression = QStringLiteral("^");
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const Piece &piece = pieces[i];
        if (piece.column == Column::Count) {
            expression += QRegularExpression::escape(piece.literal);
            continue;
        }
        if (m_columns.contains(piece.column)) {
            expression += QStringLiteral("\\k<%1>").arg(GroupName(piece.column));
            continue;
        }
        m_columns.append(piece.column);
        const bool digits = piece.column == Column::Track || piece.column == Column::Year;
        // A run of digits is taken whole ("$K$T" on "12Twelve" is track 12), since a number cut short is never
        // what a name means; a text code takes as little as it can, but the last, which takes the rest.
        expression += QStringLiteral("(?<%1>%2)")
                          .arg(GroupName(piece.column), digits ? QStringLiteral("[0-9]*+")
                                                        : i == lastCode ? QStringLiteral("[^/]*")
                                                                        : QStringLiteral("[^/]*?"));
    }
    expression += QLatin1Char('$');
    m_expression = QRegularExpression(expression);
    if (!m_expression.isValid())
        return fail(tr("The pattern cannot be used: %1").arg(m_expression.errorString()));
    m_expression.optimize();
    return true;
}

bool NamePattern::Match(const QString &fullPath, Fields &fields) const
{
    fields.clear();
    if (!m_expression.isValid() || m_columns.isEmpty())
        return false;
    // The file name without its extension, and as many folder names above it as the pattern has "/".
    qsizetype start = fullPath.size();
    for (int level = 0; level <= m_folders; ++level) {
        start = fullPath.lastIndexOf(QLatin1Char('/'), start - 1);
        if (level < m_folders && start <= 0)
            return false;   // not that many folders above the file
        if (start < 0)
            break;
    }
    QString subject = fullPath.mid(start + 1);
    const qsizetype nameStart = subject.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = subject.lastIndexOf(QLatin1Char('.'));
    if (dot > nameStart)
        subject.truncate(dot);
    const QRegularExpressionMatch match = m_expression.match(subject);
    if (!match.hasMatch())
        return false;
    for (const Column column : m_columns) {
        const QString text = match.captured(GroupName(column)).trimmed();
        if (!text.isEmpty())
            fields.append({column, text});
    }
    return true;
}

QStringList DefaultNamePatterns()
{
    return {QStringLiteral("$K - $A - $T"), QStringLiteral("$A - $T"), QStringLiteral("$K. $T"),
            QStringLiteral("$A/$B/$K - $T")};
}

void ApplyNameFields(const NamePattern::Fields &fields, TagFile &tag)
{
    for (const auto &[column, text] : fields) {
        switch (column) {
        case Column::Artist: tag.artist = text; break;
        case Column::Title: tag.title = text; break;
        case Column::Album: tag.album = text; break;
        case Column::Year: tag.year = text; break;
        case Column::Track: tag.SetTrack(text); break;
        case Column::Genre: tag.SetGenreText(text); break;
        default: break;
        }
    }
}

QString FieldName(Column column)
{
    switch (column) {
    case Column::Artist: return QStringLiteral("artist");
    case Column::Title: return QStringLiteral("title");
    case Column::Album: return QStringLiteral("album");
    case Column::Year: return QStringLiteral("year");
    case Column::Track: return QStringLiteral("track");
    case Column::Genre: return QStringLiteral("genre");
    default: return QString();
    }
}
