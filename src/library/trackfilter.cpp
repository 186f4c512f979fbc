#include "library/trackfilter.h"

#include "tags/tagfile.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

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
    std::string out;
    FoldedTexts::AppendFolded(out, text);
    return QString::fromStdString(out);
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
            term.needle = FoldForSearch(text).toStdString();
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
                term.needle = FoldForSearch(value).toStdString();
            }
        }
        terms.push_back(std::move(term));
    }
    m_terms = std::move(terms);
    return true;
}

bool TrackFilter::TermMatches(const Term &term, const TrackRecord &record, std::string_view text,
                              std::string_view folder, int inFolder)
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
    const auto inTheFolder = [&] { return inFolder >= 0 ? inFolder == 1 : folder.find(term.needle) != folder.npos; };
    if (term.column == int(Column::Path))
        return inTheFolder();
    if (term.column >= 0)
        return FoldedTexts::Cell(text, term.column).find(term.needle) != std::string_view::npos;
    // The row's other cells at once: the cell ends are bytes no needle holds, so it cannot match across two.
    return text.find(term.needle) != text.npos || inTheFolder();
}

bool TrackFilter::Matches(const TrackRecord &record) const
{
    if (m_terms.empty())
        return true;
    thread_local std::string text, folder;
    FoldedTexts::FoldCells(record, text);
    folder.clear();
    FoldedTexts::AppendFolded(folder, record[Column::Path]);
    for (const Term &term : m_terms) {
        if (TermMatches(term, record, text, folder, -1) == term.exclude)
            return false;
    }
    return true;
}

bool TrackFilter::Matches(const TrackRecord &record, const FoldedTexts &folded, std::size_t row) const
{
    for (const Term &term : m_terms) {
        if (TermMatches(term, record, folded.Text(row), folded.FolderText(folded.Folder(row)), -1) == term.exclude)
            return false;
    }
    return true;
}

std::vector<int> TrackFilter::Matching(const std::vector<TrackRecord> &rows, const FoldedTexts &folded) const
{
    // Whether each term's needle is in each folder's text, found once per folder.
    std::vector<std::vector<char>> inFolder(m_terms.size());
    for (std::size_t t = 0; t < m_terms.size(); ++t) {
        if (!m_terms[t].LooksInFolder())
            continue;
        inFolder[t].resize(folded.FolderCount());
        for (std::uint32_t f = 0; f < folded.FolderCount(); ++f)
            inFolder[t][f] = folded.FolderText(f).find(m_terms[t].needle) != std::string_view::npos;
    }
    std::vector<int> matching;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const std::uint32_t folder = folded.Folder(row);
        bool all = true;
        for (std::size_t t = 0; t < m_terms.size() && all; ++t) {
            const Term &term = m_terms[t];
            const int known = inFolder[t].empty() ? -1 : inFolder[t][folder];
            all = TermMatches(term, rows[row], folded.Text(row), {}, known) != term.exclude;
        }
        if (all)
            matching.push_back(int(row));
    }
    return matching;
}
