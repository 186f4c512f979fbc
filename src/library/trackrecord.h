#pragma once

#include <QString>

#include <array>
#include <cstddef>

class AppSettings;
class TagFile;

enum class Column { Filename, Ext, Path, Title, Artist, Year, Album, Track, Comment, Genre, Count };

constexpr int kColumnCount = int(Column::Count);

// One row of the track list: ten text cells. The rows are the only store of track data.
struct TrackRecord
{
    std::array<QString, kColumnCount> cells;

    QString &operator[](Column c) { return cells[std::size_t(c)]; }
    const QString &operator[](Column c) const { return cells[std::size_t(c)]; }
};

// One column of the list: header text, default width, whether it shows, whether its cells can be edited.
struct ColumnDef
{
    QString name;
    int width = 0;
    int visible = 1;
    int readOnly = 0;
};

// The ten column definitions in column order, with their default widths.
std::array<ColumnDef, kColumnCount> DefaultColumnDefs();

// The column whose header text or number (0-9) is `text`, or -1.
int ColumnFromName(const QString &text);

// Splits a full path into the Filename, Ext and Path cells: the text between the last separator and the last dot,
// the text after the dot, and the folder with its trailing separator. Returns false for a name without a dot.
bool SplitFullPath(const QString &fullPath, TrackRecord &record);

// Path + Filename + "." + Ext.
QString RowFullPath(const TrackRecord &record);

// Cells 3-9 from a tag, or "Non" in all seven when there is no tag to read (not an mp3 file).
void FillTagCells(TrackRecord &record, const TagFile *tag);

// A whole row for one file: its name cells and, for an mp3 file, its tag cells read from the file.
TrackRecord MakeTrackRecord(const QString &fullPath);
// The same for a file `name` in `folder` (which ends in a separator); the rows of one folder share its text.
TrackRecord MakeTrackRecord(const QString &folder, const QString &name);

bool IsMp3Extension(QStringView ext);
// Whether files of this extension have tags Tunegrove reads and writes: MP3, FLAC, Ogg, Opus and M4A.
bool IsTaggableExtension(QStringView ext);

// The i-th entry of a "120,35,0," list; missing or empty entries read as 0.
int ColumnListEntry(const QString &list, int index);

// The width column `index` takes at start-up: the stored width when "ColumnWidths" is set, else the default.
int ColumnWidth(int index, const AppSettings &settings, const std::array<ColumnDef, kColumnCount> &defs);
