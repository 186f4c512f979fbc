#include "library/trackrecord.h"

#include "settings/appsettings.h"
#include "tags/otheraudio.h"
#include "tags/tagfile.h"

#include <QStringList>

std::array<ColumnDef, kColumnCount> DefaultColumnDefs()
{
    return {{
        {QStringLiteral("Filename"), 120, 1, 0},
        {QStringLiteral("Ext"), 35, 1, 1},
        {QStringLiteral("Path"), 100, 1, 1},
        {QStringLiteral("Title"), 100, 1, 0},
        {QStringLiteral("Artist"), 100, 1, 0},
        {QStringLiteral("Year"), 40, 1, 0},
        {QStringLiteral("Album"), 100, 1, 0},
        {QStringLiteral("Track #"), 25, 1, 0},
        {QStringLiteral("Comment"), 220, 1, 0},
        {QStringLiteral("Genre"), 80, 1, 1},
    }};
}

int ColumnFromName(const QString &text)
{
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber)
        return number >= 0 && number < kColumnCount ? number : -1;
    const auto defs = DefaultColumnDefs();
    for (int i = 0; i < kColumnCount; ++i) {
        if (defs[std::size_t(i)].name.compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    // "Track" without the " #" is what people type.
    return text.compare(QLatin1String("track"), Qt::CaseInsensitive) == 0 ? int(Column::Track) : -1;
}

bool SplitFullPath(const QString &fullPath, TrackRecord &record)
{
    const qsizetype slash = fullPath.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fullPath.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash)
        return false;
    record[Column::Filename] = fullPath.mid(slash + 1, dot - slash - 1);
    record[Column::Ext] = fullPath.mid(dot + 1);
    record[Column::Path] = fullPath.left(slash + 1);
    return true;
}

QString RowFullPath(const TrackRecord &record)
{
    return record[Column::Path] + record[Column::Filename] + QLatin1Char('.') + record[Column::Ext];
}

void FillTagCells(TrackRecord &record, const TagFile *tag)
{
    if (!tag) {
        // One shared text for every "Non" cell: a 100,000-row list keeps one copy.
        static const QString non = QStringLiteral("Non");
        for (int c = int(Column::Title); c <= int(Column::Genre); ++c)
            record.cells[std::size_t(c)] = non;
        return;
    }
    record[Column::Title] = tag->title;
    record[Column::Artist] = tag->artist;
    record[Column::Year] = tag->year;
    record[Column::Album] = tag->album;
    record[Column::Track] = tag->track;
    record[Column::Comment] = tag->comment;
    record[Column::Genre] = tag->GenreName();
}

bool IsMp3Extension(QStringView ext) { return ext.compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0; }

bool IsTaggableExtension(QStringView ext) { return IsMp3Extension(ext) || otheraudio::IsOtherAudioExtension(ext); }

namespace {

void FillFromFile(TrackRecord &record, const QString &fullPath)
{
    if (IsTaggableExtension(record[Column::Ext])) {
        TagFile tag;
        tag.Open(fullPath);
        FillTagCells(record, &tag);
    } else {
        FillTagCells(record, nullptr);
    }
}

} // namespace

TrackRecord MakeTrackRecord(const QString &fullPath)
{
    TrackRecord record;
    SplitFullPath(fullPath, record);
    FillFromFile(record, fullPath);
    return record;
}

TrackRecord MakeTrackRecord(const QString &folder, const QString &name)
{
    TrackRecord record;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    record[Column::Filename] = dot < 0 ? name : name.left(dot);
    record[Column::Ext] = dot < 0 ? QString() : name.mid(dot + 1);
    record[Column::Path] = folder;
    FillFromFile(record, folder + name);
    return record;
}

int ColumnListEntry(const QString &list, int index)
{
    qsizetype start = 0;
    for (int i = 0; i < index; ++i) {
        start = list.indexOf(QLatin1Char(','), start);
        if (start < 0)
            return 0;
        ++start;
    }
    qsizetype end = list.indexOf(QLatin1Char(','), start);
    if (end < 0)
        end = list.size();
    bool ok = false;
    const int value = QStringView(list).mid(start, end - start).trimmed().toInt(&ok);
    return ok ? value : 0;
}

int ColumnWidth(int index, const AppSettings &settings, const std::array<ColumnDef, kColumnCount> &defs)
{
    if (!settings.columnWidths.isEmpty())
        return ColumnListEntry(settings.columnWidths, index);
    return defs[std::size_t(index)].width;
}
