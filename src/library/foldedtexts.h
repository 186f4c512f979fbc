#pragma once

#include "library/trackrecord.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The list's rows folded for the filter (see FoldForSearch), kept from the moment a row is listed, so that a key
// typed in the filter box only searches. A row's cells but its folder are one run of UTF-8: each cell ends in
// kCellEnd, a byte UTF-8 never uses, so a term cannot match across two cells. The folder cell, the same text for
// every file of a folder, is folded once per folder and kept apart. The runs live in blocks of 1 MiB that never
// move (a million rows grow the store without copying it); a changed row's new run goes to the end and the old
// one is given back when half the store is unused.
class FoldedTexts
{
public:
    static constexpr char kCellEnd = '\xFF';

    void Clear();
    std::size_t Size() const { return m_rows.size(); }

    void Append(const TrackRecord &record);
    void Set(std::size_t row, const TrackRecord &record);
    // Takes out the rows at `rows` (ascending, no repeats).
    void Erase(const std::vector<int> &rows);
    // Row i becomes the row that was at order[i] (a permutation of all rows).
    void Reorder(const std::vector<int> &order);

    // The row's folded cells but the folder, each ended by kCellEnd.
    std::string_view Text(std::size_t row) const
    {
        const Row &r = m_rows[row];
        return {m_blocks[r.block].get() + r.offset, r.length};
    }
    std::uint32_t Folder(std::size_t row) const { return m_rows[row].folder; }
    std::string_view FolderText(std::uint32_t folder) const { return m_folders[folder]; }
    std::size_t FolderCount() const { return m_folders.size(); }

    // One cell of a row's text (not the folder's).
    static std::string_view Cell(std::string_view text, int column);
    // The folded cells of a record but the folder, as Text gives them.
    static void FoldCells(const TrackRecord &record, std::string &out);
    // Appends `text` folded (see FoldForSearch) as UTF-8.
    static void AppendFolded(std::string &out, QStringView text);

private:
    struct Row
    {
        std::uint32_t block = 0, offset = 0, length = 0, folder = 0;
    };
    static constexpr std::size_t kBlockBytes = 1 << 20;

    Row Store(const TrackRecord &record);
    // Room for a run of `length` bytes at the end of the store, and where it is in `row`.
    char *Take(std::size_t length, Row &row);
    std::uint32_t FolderOf(const QString &path);
    void Compact();

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::size_t> m_blockSizes;   // the room of each block (a run over 1 MiB gets a block of its own)
    std::size_t m_used = 0;                  // bytes taken in the last block
    std::size_t m_stored = 0, m_unused = 0;  // bytes of all runs, and of runs no row holds any more
    std::vector<Row> m_rows;
    std::string m_scratch;

    std::vector<std::string> m_folders;
    QHash<QString, std::uint32_t> m_folderIds;
    QString m_lastFolder;                    // held, so its text cannot be freed and its address reused
    std::uint32_t m_lastFolderId = 0;
};
