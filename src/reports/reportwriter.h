#pragma once

#include "library/trackrecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// What a report is made of: its format, its grouping, whether it shows tags, whether only the selected rows, and
// the encoding setting for HTML and XML.
struct ReportChoice
{
    int format = 3;
    int group = 0;
    bool tags = false;
    bool onlySelected = false;
    QString encoding = QStringLiteral("Windows-1252");
};

// One line of a report: its text (with its line break, where the format has one) and its kind, which decides the
// font it is printed in.
struct ReportLine
{
    enum Kind { Heading = 0, GroupHeading = 1, Plain = 2, Tagged = 3 };
    QString text;
    int kind = Plain;
};

// Turns rows of the track list into a report: HTML, XML, an M3U playlist or plain text, grouped by folder, artist,
// genre or year, optionally only the selected rows, optionally with each MP3 file's tag text. The report is built
// in memory as lines; Encode turns them into the file's bytes (CR LF line ends; HTML and XML in the "Encoding"
// setting with characters it cannot hold as numeric references, TXT and M3U in UTF-8). Texts taken from files
// (names, extensions, group values, tag text) are escaped in HTML and XML.
class ReportWriter
{
public:
    enum Format { Html = 0, Xml = 1, M3u = 2, Txt = 3 };
    enum Group { ByPath = 0, ByArtist = 1, ByGenre = 2, ByYear = 3 };

    ReportWriter(const std::vector<TrackRecord> &rows, QList<int> selected);

    int format = Txt;
    int groupChoice = -1;
    bool onlySelected = false;
    bool includeTags = false;
    QString encoding = QStringLiteral("Windows-1252");   // the "Encoding" setting
    // Told how many rows are in the report so far, every few hundred rows; false stops the report there (it is
    // then incomplete: Cancelled() says so). May be called on the thread that builds the report.
    std::function<bool(int rows)> keepGoing;
    bool Cancelled() const { return m_cancelled; }

    // The column the rows are sorted by before the report is built (ascending, as a header click), or -1.
    static int GroupColumn(int groupChoice);
    static QString GroupLabel(int groupChoice);

    // Takes the choices and builds the whole report: header, rows, footer.
    void Build(const ReportChoice &choice);

    void AddHeader();
    void AddRows();
    void AddRow(int row);
    void AddFooter();
    const QList<ReportLine> &Lines() const { return m_lines; }

    // The selected rows as an M3U playlist written to `path` (no groups, no sorting, no footer); 0 or an errno.
    int WritePlaylist(const QString &path);

    // The file's bytes: every line in order, each "\n" written as CR LF.
    QByteArray Encode() const;
    // Builds the report as Build does and hands on its bytes (what Encode would give) in pieces of some 256 KiB as
    // they are made, never holding the whole text; `out` returns false to stop. False when it was stopped (or
    // keepGoing stopped it).
    bool Stream(const ReportChoice &choice, const std::function<bool(const QByteArray &piece)> &out);
    // The encoding HTML and XML are written in and declare: the setting when Qt knows it, else UTF-8.
    QString EffectiveEncoding() const;
    // &quot; &amp; &lt; &gt;, and the apostrophe as &#39; (HTML) or &apos; (XML).
    static QString Escape(const QString &text, bool html);
    // The suggested file name's extension and the file dialog's filter for a format.
    static QString Extension(int format);
    static QString Filter(int format);

private:
    QString TagText(const TrackRecord &row) const;
    QString GroupValue(const TrackRecord &row) const;

    const std::vector<TrackRecord> &m_rows;
    bool m_cancelled = false;
    QList<int> m_selected;
    QList<ReportLine> m_lines;
    QString m_previousGroup;
    bool m_itemOpen = false;   // XML: an Item element is open
    class ReferenceEncoder;
    mutable std::shared_ptr<ReferenceEncoder> m_encoder;   // made for the encoding at the first piece
    mutable QString m_joined;                              // a piece's lines, joined to be encoded
};
