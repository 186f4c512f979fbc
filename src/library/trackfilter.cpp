#include "library/trackfilter.h"

#include "tags/tagfile.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

constexpr char16_t kCellEnd = 0xFFFF;   // a noncharacter: never part of a cell's text a user searches for

void AppendFolded(QString &out, QStringView text)
{
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        const qsizetype at = out.size();
        out.resize(at + text.size());
        QChar *to = out.data() + at;
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            *to++ = QChar(u >= 'A' && u <= 'Z' ? char16_t(u + 32) : u);
        }
        return;
    }
    const QString decomposed = text.toString().normalized(QString::NormalizationForm_KD);
    QString kept;
    kept.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const QChar::Category category = c.category();
        if (category != QChar::Mark_NonSpacing && category != QChar::Mark_SpacingCombining &&
            category != QChar::Mark_Enclosing)
            kept.append(c);
    }
    out.append(kept.toCaseFolded());
}

bool IsBlank(QStringView text)
{
    for (const QChar c : text) {
        if (!c.isSpace())
            return false;
    }
    return true;
}

QString tr(const char *text) { return QCoreApplication::translate("TrackFilter", text); }

} // namespace

QString FoldForSearch(QStringView text)
{
    QString out;
    AppendFolded(out, text);
    return out;
}

FoldedRecord FoldRecord(const TrackRecord &record)
{
    FoldedRecord folded;
    qsizetype length = kColumnCount;
    for (const QString &cell : record.cells)
        length += cell.size();
    folded.text.reserve(length);
    for (int c = 0; c < kColumnCount; ++c) {
        folded.start[std::size_t(c)] = int(folded.text.size());
        AppendFolded(folded.text, record.cells[std::size_t(c)]);
        folded.text.append(QChar(kCellEnd));
    }
    folded.start[kColumnCount] = int(folded.text.size());
    return folded;
}

QString TrackFilter::FieldName(int column)
{
    const QString title = DefaultColumnDefs()[std::size_t(column)].name;
    QString name;
    for (const QChar c : title) {
        if (c.isLetterOrNumber())
            name.append(c.toLower());
    }
    return name;
}

int TrackFilter::FieldColumn(QStringView name)
{
    for (int c = 0; c < kColumnCount; ++c) {
        if (name.compare(FieldName(c), Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

bool TrackFilter::Parse(const QString &expression, QString *error)
{
    std::vector<Term> terms;
    qsizetype i = 0;
    const qsizetype n = expression.size();
    while (i < n) {
        if (expression[i].isSpace()) {
            ++i;
            continue;
        }
        Term term;
        // A "-" before a term leaves out what the term matches; a "-" on its own is just a character.
        if (expression[i] == QLatin1Char('-') && i + 1 < n && !expression[i + 1].isSpace()) {
            term.exclude = true;
            ++i;
        }
        QString text;
        qsizetype colon = -1;           // the first colon outside quotes, with no quote before it
        bool quoted = false, valueQuoted = false, inQuote = false;
        qsizetype quoteAt = -1;
        for (; i < n && (inQuote || !expression[i].isSpace()); ++i) {
            const QChar c = expression[i];
            if (c == QLatin1Char('"')) {
                inQuote = !inQuote;
                quoteAt = i;
                quoted = true;
                if (colon >= 0)
                    valueQuoted = true;
                continue;
            }
            if (c == QLatin1Char(':') && !inQuote && !quoted && colon < 0)
                colon = text.size();
            text.append(c);
        }
        if (inQuote) {
            if (error)
                *error = tr("The quote at character %1 is not closed.").arg(quoteAt + 1);
            return false;
        }

        const int column = colon > 0 ? FieldColumn(QStringView(text).left(colon)) : -1;
        if (column < 0 && colon > 0 &&
            std::all_of(text.cbegin(), text.cbegin() + colon, [](QChar c) { return c.isLetter(); })) {
            if (error) {
                QStringList fields;
                for (int c = 0; c < kColumnCount; ++c)
                    fields.append(FieldName(c));
                *error = tr("There is no field \"%1\"; the fields are %2.").arg(text.left(colon), fields.join(QStringLiteral(", ")));
            }
            return false;
        }
        if (column < 0) {
            term.needle = FoldForSearch(text);
        } else {
            term.column = column;
            const QString value = text.mid(colon + 1);
            const qsizetype dots = value.indexOf(QLatin1String(".."));
            bool lowOk = false, highOk = false;
            if (value.isEmpty()) {
                term.empty = true;
            } else if (!valueQuoted && dots >= 0 && value.size() > 2) {
                // An end left out is open: ..1999 is up to 1999, 2000.. from 2000 on.
                const QString low = value.left(dots), high = value.mid(dots + 2);
                term.low = low.isEmpty() ? std::numeric_limits<long long>::min() : low.toLongLong(&lowOk);
                term.high = high.isEmpty() ? std::numeric_limits<long long>::max() : high.toLongLong(&highOk);
                lowOk = lowOk || low.isEmpty();
                highOk = highOk || high.isEmpty();
            }
            if (lowOk && highOk) {
                term.range = true;
                if (term.low > term.high)
                    std::swap(term.low, term.high);
            } else if (!term.empty) {
                term.needle = FoldForSearch(value);
            }
        }
        terms.push_back(std::move(term));
    }
    m_terms = std::move(terms);
    return true;
}

bool TrackFilter::TermMatches(const Term &term, const TrackRecord &record, const FoldedRecord &folded)
{
    if (term.empty)
        return IsBlank(record.cells[std::size_t(term.column)]);
    if (term.range) {
        const QString &cell = record.cells[std::size_t(term.column)];
        if (IsBlank(cell))
            return false;
        const long long value = TagFile::LeadingNumber(cell);
        return value >= term.low && value <= term.high;
    }
    if (term.column >= 0)
        return folded.Cell(term.column).contains(term.needle);
    // The whole row at once, unless the needle holds the cell separator itself and could match across cells.
    if (!term.needle.contains(QChar(kCellEnd)))
        return QStringView(folded.text).contains(term.needle);
    for (int c = 0; c < kColumnCount; ++c) {
        if (folded.Cell(c).contains(term.needle))
            return true;
    }
    return false;
}

bool TrackFilter::Matches(const TrackRecord &record, const FoldedRecord &folded) const
{
    for (const Term &term : m_terms) {
        if (TermMatches(term, record, folded) == term.exclude)
            return false;
    }
    return true;
}
