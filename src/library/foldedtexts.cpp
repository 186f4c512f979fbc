#include "library/foldedtexts.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kFolderColumn = int(Column::Path);

} // namespace

void FoldedTexts::AppendFolded(std::string &out, QStringView text)
{
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        const std::size_t at = out.size();
        out.resize(at + std::size_t(text.size()));
        char *to = out.data() + at;
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            *to++ = char(u >= 'A' && u <= 'Z' ? u + 32 : u);
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
    const QByteArray utf8 = kept.toCaseFolded().toUtf8();
    out.append(utf8.constData(), std::size_t(utf8.size()));
}

void FoldedTexts::FoldCells(const TrackRecord &record, std::string &out)
{
    out.clear();
    for (int c = 0; c < kColumnCount; ++c) {
        if (c == kFolderColumn)
            continue;
        AppendFolded(out, record.cells[std::size_t(c)]);
        out.push_back(kCellEnd);
    }
}

std::string_view FoldedTexts::Cell(std::string_view text, int column)
{
    // The cells stand in column order without the folder's.
    int skip = column > kFolderColumn ? column - 1 : column;
    const char *at = text.data();
    const char *const end = at + text.size();
    for (; skip > 0 && at < end; --skip) {
        const void *cellEnd = std::memchr(at, kCellEnd, std::size_t(end - at));
        at = cellEnd ? static_cast<const char *>(cellEnd) + 1 : end;
    }
    const void *cellEnd = std::memchr(at, kCellEnd, std::size_t(end - at));
    return {at, std::size_t((cellEnd ? static_cast<const char *>(cellEnd) : end) - at)};
}

void FoldedTexts::Clear()
{
    m_blocks.clear();
    m_blockSizes.clear();
    m_used = m_stored = m_unused = 0;
    std::vector<Row>().swap(m_rows);
    m_folders.clear();
    m_folderIds.clear();
    m_lastFolder = QString();
    m_lastFolderId = 0;
}

std::uint32_t FoldedTexts::FolderOf(const QString &path)
{
    // The rows of one folder share its text: most rows are found by the address of the last one's.
    if (!m_folders.empty() && path.constData() == m_lastFolder.constData() && path.size() == m_lastFolder.size())
        return m_lastFolderId;
    auto found = m_folderIds.constFind(path);
    if (found == m_folderIds.constEnd()) {
        std::string folded;
        AppendFolded(folded, path);
        m_folders.push_back(std::move(folded));
        found = m_folderIds.insert(path, std::uint32_t(m_folders.size() - 1));
    }
    m_lastFolder = path;
    m_lastFolderId = found.value();
    return m_lastFolderId;
}

char *FoldedTexts::Take(std::size_t length, Row &row)
{
    if (m_blocks.empty() || m_used + length > m_blockSizes.back()) {
        const std::size_t room = std::max(kBlockBytes, length);
        m_blocks.push_back(std::make_unique<char[]>(room));
        m_blockSizes.push_back(room);
        m_used = 0;
    }
    row.block = std::uint32_t(m_blocks.size() - 1);
    row.offset = std::uint32_t(m_used);
    row.length = std::uint32_t(length);
    m_used += length;
    m_stored += length;
    return m_blocks.back().get() + row.offset;
}

FoldedTexts::Row FoldedTexts::Store(const TrackRecord &record)
{
    FoldCells(record, m_scratch);
    Row row;
    std::memcpy(Take(m_scratch.size(), row), m_scratch.data(), m_scratch.size());
    row.folder = FolderOf(record.cells[std::size_t(kFolderColumn)]);
    return row;
}

void FoldedTexts::Append(const TrackRecord &record) { m_rows.push_back(Store(record)); }

void FoldedTexts::Set(std::size_t row, const TrackRecord &record)
{
    m_unused += m_rows[row].length;
    m_rows[row] = Store(record);
    Compact();
}

void FoldedTexts::Erase(const std::vector<int> &rows)
{
    if (rows.empty())
        return;
    std::size_t to = std::size_t(rows.front()), next = 0;
    for (std::size_t from = to; from < m_rows.size(); ++from) {
        if (next < rows.size() && std::size_t(rows[next]) == from) {
            m_unused += m_rows[from].length;
            ++next;
            continue;
        }
        m_rows[to++] = m_rows[from];
    }
    m_rows.resize(to);
    Compact();
}

void FoldedTexts::Reorder(const std::vector<int> &order)
{
    std::vector<Row> reordered;
    reordered.reserve(order.size());
    for (const int from : order)
        reordered.push_back(m_rows[std::size_t(from)]);
    m_rows.swap(reordered);
}

void FoldedTexts::Compact()
{
    if (m_unused < kBlockBytes || m_unused * 2 < m_stored)
        return;
    // Copy the runs rows still hold into new blocks, in row order.
    std::vector<std::unique_ptr<char[]>> blocks;
    blocks.swap(m_blocks);
    m_blockSizes.clear();
    m_used = m_stored = m_unused = 0;
    for (Row &row : m_rows) {
        const char *text = blocks[row.block].get() + row.offset;
        std::memcpy(Take(row.length, row), text, row.length);
    }
}
