#include "library/walkworker.h"

#include "library/orderedreader.h"

#include "library/folderwalker.h"
#include "library/scanstate.h"
#include "library/tagcache.h"

#include <QMutexLocker>

#include <memory>

namespace {

constexpr qint64 kFlushMs = 50;
// Cache entries no listing has seen for this long are dropped.
constexpr int kCacheDays = 90;

} // namespace

WalkWorker::WalkWorker(ScanState &state, const ExtensionSet &extensions, std::vector<QSet<QByteArray>> listed, QObject *parent)
    : QThread(parent), m_state(state), m_extensions(extensions), m_listed(std::move(listed)),
      m_cacheFile(TagCache::DefaultFile())
{
}

std::vector<TrackRecord> WalkWorker::TakeRows(std::size_t most)
{
    QMutexLocker lock(&m_mutex);
    m_signalled = false;
    std::vector<TrackRecord> rows;
    while (rows.size() < most && !m_ready.empty()) {
        std::vector<TrackRecord> &front = m_ready.front();
        const std::size_t n = std::min(most - rows.size(), front.size() - m_frontTaken);
        if (rows.empty() && m_frontTaken == 0 && n == front.size()) {
            rows.swap(front);   // a whole batch, as it came
        } else {
            rows.reserve(std::min(most, rows.size() + front.size() - m_frontTaken));
            const auto from = front.begin() + std::ptrdiff_t(m_frontTaken);
            std::move(from, from + std::ptrdiff_t(n), std::back_inserter(rows));
            m_frontTaken += n;
            if (m_frontTaken < front.size())
                break;
        }
        m_ready.pop_front();
        m_frontTaken = 0;
    }
    return rows;
}

bool WalkWorker::HasRows() const
{
    QMutexLocker lock(&m_mutex);
    return !m_ready.empty();
}

void WalkWorker::Collect(TrackRecord &&row)
{
    m_batch.push_back(std::move(row));
    if (m_sinceFlush.elapsed() >= kFlushMs)
        Flush();
}

void WalkWorker::Flush()
{
    m_sinceFlush.restart();
    if (m_batch.empty())
        return;
    bool notify = false;
    {
        QMutexLocker lock(&m_mutex);
        m_ready.push_back(std::exchange(m_batch, {}));
        notify = !m_signalled;
        m_signalled = true;
    }
    if (notify)
        Q_EMIT RowsReady();
}

void WalkWorker::run()
{
    m_state.stop.store(0);
    m_sinceFlush.start();
    FolderWalker walker(m_state, m_extensions, [this](TrackRecord &&row) { Collect(std::move(row)); });
    walker.SetListed(std::move(m_listed));
    // The window's thread takes the rows as fast as they come and wants a core of its own: one helper fewer
    // than the command line's (a million rows listed 4.99-5.11 s against 5.29-5.83 s, the same longest stall).
    walker.SetFolderHelpers(OrderedReader::DefaultThreads() - 1);
    // The cache's connection lives on this thread.
    std::unique_ptr<TagCache> cache;
    if (!m_cacheFile.isEmpty()) {
        cache = std::make_unique<TagCache>(m_cacheFile);
        cache->Prune(kCacheDays);
        walker.SetCache(cache.get());
    }
    Walk(walker);
    Flush();
    m_state.progressTick.store(-1);
    m_state.scanning.store(0);
    m_state.stop.store(0);
}

ListingWorker::ListingWorker(ScanState &state, const ExtensionSet &extensions, std::vector<QSet<QByteArray>> listed,
                             QString folder, bool recurse, QObject *parent)
    : WalkWorker(state, extensions, std::move(listed), parent), m_folder(std::move(folder)), m_recurse(recurse)
{
}

void ListingWorker::Walk(FolderWalker &walker)
{
    walker.SetRemembersFiles(false);   // one walk: it never meets a file twice
    walker.WalkFolder(m_folder, m_recurse);
}

ScanWorker::ScanWorker(ScanState &state, const ExtensionSet &extensions, std::vector<platform::Drive> drives,
                       QObject *parent)
    : WalkWorker(state, extensions, {}, parent), m_drives(std::move(drives))
{
}

std::vector<platform::Drive> ScanWorker::AcceptedDrives(const std::vector<platform::Drive> &drives, bool removable,
                                                        bool cdrom)
{
    std::vector<platform::Drive> accepted;
    for (const platform::Drive &drive : drives) {
        if (drive.kind == platform::DriveKind::Removable && !removable)
            continue;
        if (drive.kind == platform::DriveKind::CdRom && !cdrom)
            continue;
        accepted.push_back(drive);
    }
    return accepted;
}

void ScanWorker::Walk(FolderWalker &walker)
{
    m_state.scanning.store(1);
    // Each drive is walked on its own file system, so "/" does not wander into /proc or into the other drives.
    walker.SetStayOnDevice(true);
    for (const platform::Drive &drive : m_drives) {
        walker.SetRemembersFiles(&drive != &m_drives.back());
        if (!walker.WalkFolder(drive.root, true))
            break;
    }
}
