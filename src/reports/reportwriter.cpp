#include "reports/reportwriter.h"

#include "platform/fileio.h"
#include "platform/names.h"
#include "settings/product.h"

#include <QHash>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

const QString kTitle = QStringLiteral("List of Mp3 files");

QString ProgramName() { return QString::fromLatin1(product::kProgramName); }
QString HomePage() { return QString::fromLatin1(product::kHomePage); }

} // namespace

// The text in an encoding, each character the encoding cannot hold written as a numeric character reference. What
// the encoding holds is asked once per character and kept, and the converters are made once: a report is encoded
// a piece at a time, and making an encoding's converter costs more than encoding a piece.
class ReportWriter::ReferenceEncoder
{
public:
    explicit ReferenceEncoder(const QString &encoding)
        : m_name(encoding.toLatin1()), m_utf8(QStringConverter::encodingForName(m_name.constData()) == QStringConverter::Utf8),
          m_encoder(m_name.constData(), QStringConverter::Flag::Stateless),
          m_probe(m_name.constData(), QStringConverter::Flag::Stateless),
          m_back(m_name.constData(), QStringConverter::Flag::Stateless)
    {
    }
    const QByteArray &Name() const { return m_name; }

    QByteArray Encode(const QString &text)
    {
        if (m_utf8)
            return text.toUtf8();   // holds every character
        QByteArray out;
        out.reserve(text.size());
        // Runs of characters the encoding holds are encoded whole; a character it cannot hold becomes a reference.
        qsizetype runStart = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c.unicode() < 0x80)
                continue;
            char32_t code = c.unicode();
            qsizetype length = 1;
            if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                code = QChar::surrogateToUcs4(c, text[i + 1]);
                length = 2;
            }
            auto found = m_holds.constFind(code);
            if (found == m_holds.constEnd()) {
                const QStringView one = QStringView(text).mid(i, length);
                m_probe.resetState();
                m_back.resetState();
                const QByteArray bytes = m_probe.encode(one);
                const QString decoded = m_back.decode(bytes);
                found = m_holds.insert(code, !m_probe.hasError() && decoded == one);
            }
            if (!found.value()) {
                out += QByteArray(m_encoder.encode(QStringView(text).mid(runStart, i - runStart)));
                out += "&#" + QByteArray::number(quint32(code)) + ';';
                runStart = i + length;
            }
            i += length - 1;
        }
        out += QByteArray(m_encoder.encode(QStringView(text).mid(runStart)));
        return out;
    }

private:
    QByteArray m_name;
    bool m_utf8;
    QStringEncoder m_encoder, m_probe;
    QStringDecoder m_back;
    QHash<char32_t, bool> m_holds;   // per code point: does the encoding round-trip it?
};

namespace {

// A playlist holds one file a line: a name with a line break in it is written as a file:// URL with its bytes
// percent-encoded, which players read as the same file.
QString PlaylistEntry(const QString &path)
{
    if (!path.contains(QLatin1Char('\n')) && !path.contains(QLatin1Char('\r')))
        return path;
    return QLatin1String("file://") + QString::fromLatin1(platform::EncodeName(path).toPercentEncoding("/"));
}

// A text report's line breaks are its own: a name's line breaks show as \n and \r.
QString EscapeLineBreaks(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return text;
}

} // namespace

ReportWriter::ReportWriter(const std::vector<TrackRecord> &rows, QList<int> selected)
    : m_rows(rows), m_selected(std::move(selected))
{
}

int ReportWriter::GroupColumn(int groupChoice)
{
    switch (groupChoice) {
    case ByPath: return int(Column::Path);
    case ByArtist: return int(Column::Artist);
    case ByGenre: return int(Column::Genre);
    case ByYear: return int(Column::Year);
    default: return -1;
    }
}

QString ReportWriter::GroupLabel(int groupChoice)
{
    switch (groupChoice) {
    case ByPath: return QStringLiteral("Directory");
    case ByArtist: return QStringLiteral("Artist");
    case ByGenre: return QStringLiteral("Genre");
    case ByYear: return QStringLiteral("Year");
    default: return QString();
    }
}

QString ReportWriter::Escape(const QString &text, bool html)
{
    // Most text needs nothing done: it is handed back as it is, without a copy.
    const auto *data = reinterpret_cast<const char16_t *>(text.utf16());
    qsizetype first = 0;
    while (first < text.size()) {
        const char16_t code = data[first];
        if (code < 0x20 || code == '"' || code == '&' || code == '<' || code == '>' || code == '\'' ||
            (code >= 0xD800 && code <= 0xDFFF) || code >= 0xFFFE)
            break;
        ++first;
    }
    if (first == text.size())
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t code = c.unicode();
        if (code >= 0xDC80 && code <= 0xDCFF) {
            // A byte of a file name that is not UTF-8: shown as the character a Latin-1 reading gives.
            out += QChar(char16_t(code - 0xDC00));
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
            continue;
        }
        // Characters XML 1.0 cannot hold at all, not even as a reference: control characters, a lone surrogate,
        // U+FFFE and U+FFFF.
        if ((code < 0x20 && code != '\t' && code != '\n' && code != '\r') || c.isSurrogate() || code >= 0xFFFE) {
            out += QChar(QChar::ReplacementCharacter);
            continue;
        }
        switch (code) {
        case '"': out += QLatin1String("&quot;"); break;
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '\'': out += html ? QLatin1String("&#39;") : QLatin1String("&apos;"); break;
        default: out += c;
        }
    }
    return out;
}

QString ReportWriter::Extension(int format)
{
    switch (format) {
    case Html: return QStringLiteral("html");
    case Xml: return QStringLiteral("xml");
    case M3u: return QStringLiteral("m3u");
    default: return QStringLiteral("txt");
    }
}

QString ReportWriter::Filter(int format)
{
    switch (format) {
    case Html: return QStringLiteral("HTML files (*.htm *.html)");
    case Xml: return QStringLiteral("XML files (*.xml)");
    case M3u: return QStringLiteral("M3U files (*.m3u)");
    default: return QStringLiteral("TXT files (*.txt)");
    }
}

QString ReportWriter::EffectiveEncoding() const
{
    const QStringEncoder probe(encoding.toLatin1().constData());
    return probe.isValid() ? encoding : QStringLiteral("UTF-8");
}

QString ReportWriter::TagText(const TrackRecord &row) const
{
    qsizetype size = 0;
    for (int c = int(Column::Title); c < kColumnCount; ++c)
        size += 4 + row.cells[std::size_t(c)].size();
    QString text;
    text.reserve(size);
    for (int c = int(Column::Title); c < kColumnCount; ++c) {
        const QString &cell = row.cells[std::size_t(c)];
        if (!cell.isEmpty() && !(cell.size() == 3 && cell.compare(QLatin1String("Non"), Qt::CaseInsensitive) == 0)) {
            text += QLatin1String(" -- ");
            text += cell;
        }
    }
    return text;
}

QString ReportWriter::GroupValue(const TrackRecord &row) const
{
    const int column = GroupColumn(groupChoice);
    const QString value = column >= 0 ? row.cells[std::size_t(column)] : QString();
    if (format == Html || format == Xml)
        return Escape(value, format == Html);
    return value;
}

void ReportWriter::Build(const ReportChoice &choice)
{
    format = choice.format;
    groupChoice = choice.group;
    includeTags = choice.tags;
    onlySelected = choice.onlySelected;
    encoding = choice.encoding;
    AddHeader();
    AddRows();
    AddFooter();
}

void ReportWriter::AddHeader()
{
    const QString label = GroupLabel(groupChoice);
    QString text;
    switch (format) {
    case Html:
        text = QLatin1String("<html>\n<head>\n<title>") + kTitle + QLatin1String("</title>\n") +
               QLatin1String("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=") + EffectiveEncoding() +
               QLatin1String("\">\n<style type=\"text/css\"><!-- ") +
               QLatin1String("h1 { font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 14px; color: #0099CC; "
                             "background-color: #eeeeee} ") +
               QLatin1String("body {  font-weight: bold; font-family: Verdana, Arial, Helvetica, sans-serif; font-size: "
                             "12px; color: #000000; margin-top: 40px; margin-bottom: 50px; margin-left: 35px } ") +
               QLatin1String(".tag {font-style: italic; font-weight: normal}") +
               QLatin1String("--></style></head>\n<body bgcolor=#ffffff>") + QLatin1String("<h1><font color=#FF3300>") +
               kTitle + QLatin1String("<br>Generated by ") + ProgramName() +
               QLatin1String("<br>Group by</font><font color=#33CC33> ") + label + QLatin1String("</font></h1>");
        break;
    case Xml:
        text = QLatin1String("<?xml version=\"1.0\" encoding=\"") + EffectiveEncoding() + QLatin1String("\"?>") +
               QLatin1Char('<') + label + QLatin1String("_Tree>\n") + QLatin1String("\n<title>") + kTitle +
               QLatin1String("</title><sign>Generated by ") + ProgramName() + QLatin1String("</sign>\n");
        break;
    case M3u:
        text = QStringLiteral("#EXTM3U\n");
        break;
    default:
        text = kTitle + QLatin1String(". Generated by ") + ProgramName() + QLatin1String("\nGroup by ") + label +
               QLatin1Char('\n');
        break;
    }
    m_lines.append(ReportLine{text, ReportLine::Heading});
}

void ReportWriter::AddRows()
{
    m_previousGroup.clear();
    QList<int> rows = m_selected;
    if (onlySelected)
        std::sort(rows.begin(), rows.end());
    const int count = onlySelected ? int(rows.size()) : int(m_rows.size());
    for (int i = 0; i < count; ++i) {
        if (keepGoing && i % 256 == 0 && !keepGoing(i)) {
            m_cancelled = true;
            return;
        }
        AddRow(onlySelected ? rows[i] : i);
    }
}

void ReportWriter::AddRow(int index)
{
    const TrackRecord &row = m_rows[std::size_t(index)];
    const bool tagged = includeTags && IsTaggableExtension(row[Column::Ext]);
    const QString group = GroupValue(row);
    const bool newGroup = group != m_previousGroup;
    switch (format) {
    case Html: {
        const QString tags = tagged ? Escape(TagText(row), true) : QString();
        QString text;
        text.reserve(120 + group.size() + row[Column::Filename].size() + row[Column::Ext].size() + tags.size());
        if (newGroup) {
            text += QLatin1String("<br><br><br><h1>");
            text += group;
            text += QLatin1String("</h1>\n");
        }
        text += Escape(row[Column::Filename], true);
        text += QLatin1Char('.');
        text += Escape(row[Column::Ext], true);
        if (tagged) {
            text += QLatin1String("&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;<span class=tag>");
            text += tags;
            text += QLatin1String("</span>");
        }
        text += QLatin1String("<br>\n");
        m_lines.append(ReportLine{text, ReportLine::Plain});
        break;
    }
    case Xml: {
        QString text;
        if (newGroup) {
            if (m_itemOpen)
                text += QLatin1String("\n</Item>\n");
            text += QLatin1String("\n<Item Value=\"") + group + QLatin1String("\">\n");
            m_itemOpen = true;
        }
        text += QLatin1String("<File>\"") + Escape(row[Column::Filename], false) + QLatin1Char('.') +
                Escape(row[Column::Ext], false) + QLatin1String("\"</File>\n");
        m_lines.append(ReportLine{text, ReportLine::Plain});
        break;
    }
    case M3u:
        m_lines.append(ReportLine{PlaylistEntry(RowFullPath(row)) + QLatin1Char('\n'), ReportLine::Plain});
        return;   // a playlist has no groups
    default: {
        ReportLine heading{QString(), ReportLine::Plain};
        if (newGroup)
            heading = ReportLine{QLatin1String("\n\n===== ") + group + QLatin1String(" =====\n"), ReportLine::GroupHeading};
        m_lines.append(heading);
        ReportLine file{EscapeLineBreaks(row[Column::Filename] + QLatin1Char('.') + row[Column::Ext]), ReportLine::Plain};
        if (tagged) {
            file.kind = ReportLine::Tagged;
            file.text += QLatin1String("      ") + TagText(row);
        }
        file.text += QLatin1Char('\n');
        m_lines.append(file);
        break;
    }
    }
    m_previousGroup = group;
}

void ReportWriter::AddFooter()
{
    switch (format) {
    case Html:
        m_lines.append(ReportLine{QLatin1String("<br><br><h1>") + ProgramName() + QLatin1String(" Home Page <a href=") +
                                      HomePage() + QLatin1String("/>") + HomePage() +
                                      QLatin1String("</a></h1></body>\n</html>"),
                                  ReportLine::Plain});
        break;
    case Xml:
        m_lines.append(ReportLine{(m_itemOpen ? QLatin1String("</Item>\n") : QLatin1String("")) + QLatin1String("</") +
                                      GroupLabel(groupChoice) + QLatin1String("_Tree>\n"),
                                  ReportLine::Plain});
        break;
    case M3u:
        m_lines.append(ReportLine{QString(), ReportLine::Plain});
        break;
    default:
        m_lines.append(ReportLine{QStringLiteral("\n"), ReportLine::Plain});
        m_lines.append(ReportLine{ProgramName() + QLatin1Char('\n') + HomePage() + QLatin1String("  "), ReportLine::Plain});
        break;
    }
}

int ReportWriter::WritePlaylist(const QString &path)
{
    format = M3u;
    onlySelected = true;
    AddHeader();
    AddRows();
    return platform::WriteFileAtomically(path, Encode());
}

bool ReportWriter::Stream(const ReportChoice &choice, const std::function<bool(const QByteArray &piece)> &out)
{
    format = choice.format;
    groupChoice = choice.group;
    includeTags = choice.tags;
    onlySelected = choice.onlySelected;
    encoding = choice.encoding;
    // The lines made so far go out whenever they hold this many characters; each piece ends with a whole line,
    // and every encoding used is stateless, so the pieces are the bytes Encode gives.
    constexpr qsizetype kPieceChars = qsizetype(256) << 10;
    qsizetype held = 0;
    bool going = true;
    auto flush = [&] {
        if (going && !m_lines.isEmpty())
            going = out(Encode());
        m_lines.clear();
        held = 0;
    };
    AddHeader();
    m_previousGroup.clear();
    QList<int> rows = m_selected;
    if (onlySelected)
        std::sort(rows.begin(), rows.end());
    const int count = onlySelected ? int(rows.size()) : int(m_rows.size());
    for (int i = 0; i < count && going; ++i) {
        if (keepGoing && i % 256 == 0 && !keepGoing(i)) {
            m_cancelled = true;
            return false;
        }
        const qsizetype before = m_lines.size();
        AddRow(onlySelected ? rows[i] : i);
        for (qsizetype line = before; line < m_lines.size(); ++line)
            held += m_lines[line].text.size();
        if (held >= kPieceChars)
            flush();
    }
    if (!going)
        return false;
    AddFooter();
    flush();
    return going;
}

QByteArray ReportWriter::Encode() const
{
    // The lines joined, each line break written as CR LF, in one pass.
    qsizetype size = 0;
    for (const ReportLine &line : m_lines)
        size += line.text.size();
    QString &text = m_joined;   // kept from piece to piece: its memory is reused, not asked for again
    text.resize(0);
    text.reserve(size + size / 16);
    for (const ReportLine &line : m_lines) {
        const QStringView view(line.text);
        qsizetype from = 0;
        for (qsizetype at; (at = view.indexOf(QLatin1Char('\n'), from)) >= 0; from = at + 1) {
            text += view.mid(from, at - from);
            text += QLatin1String("\r\n");
        }
        text += view.mid(from);
    }
    if (format == Html || format == Xml) {
        const QString effective = EffectiveEncoding();
        if (!m_encoder || m_encoder->Name() != effective.toLatin1())
            m_encoder = std::make_shared<ReferenceEncoder>(effective);
        return m_encoder->Encode(text);
    }
    return platform::EncodeName(text);   // UTF-8, file names that are not UTF-8 as the bytes they are
}
