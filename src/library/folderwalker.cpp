#include "library/folderwalker.h"

#include "platform/directory.h"
#include "platform/names.h"
#include "library/orderedreader.h"
#include "library/scanstate.h"

ScanState &ScanState::Instance()
{
    static ScanState state;
    return state;
}

FolderWalker::FolderWalker(ScanState &state, ExtensionSet extensions, RowSink sink)
    : m_state(state), m_extensions(std::move(extensions)), m_sink(std::move(sink)),
      m_readerThreads(OrderedReader::DefaultThreads())
{
}

bool FolderWalker::WalkFolder(const QString &folder, bool recurse)
{
    if (folder.isEmpty() || m_state.stop.load())
        return false;
    // This thread walks the folders and reads tags; the others only read tags. Rows come back on this thread
    // in order; what was read from a file goes into the cache then.
    OrderedReader reader(m_readerThreads, m_state.stop, [this](TrackRecord &&row) {
        if (m_cache && !m_toStore.empty()) {
            const ToStore next = std::move(m_toStore.front());
            m_toStore.pop_front();
            if (next.store)
                m_cache->Store(next.folder, next.name, next.stamp, row);
        }
        m_sink(std::move(row));
    });
    m_reader = &reader;
    if (recurse)
        m_listed.reserve(m_listed.size() + (1 << 16));   // a tree of music: room for many files at once
    const bool walked = Walk(folder, recurse, m_stayOnDevice ? platform::DeviceOf(folder) : 0);
    reader.Finish();
    m_reader = nullptr;
    m_toStore.clear();
    if (m_cache)
        m_cache->Commit();
    return walked && !m_state.stop.load();
}

void FolderWalker::Tick()
{
    const int tick = m_state.progressTick.load(std::memory_order_relaxed) + 1;
    m_state.progressTick.store(tick > 99 || tick < 0 ? 0 : tick, std::memory_order_relaxed);
}

bool FolderWalker::Walk(const QString &folder, bool recurse, std::uint64_t device)
{
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    bool stopped = false;
    int error = 0;
    TagCache::Folder cached;
    TagCache::Folder *const outer = m_cached;
    if (m_cache && m_reader) {
        cached = m_cache->Load(prefix);
        m_cached = &cached;
    }
    // With the cache, the files' stamps are taken as the folder is read (relative to it), and names keep their
    // bytes, so a file the cache knows costs no path lookup and no conversion.
    const bool stamping = m_cache && m_reader;
    const QByteArray nativePrefix = stamping ? platform::EncodeName(prefix) : QByteArray();
    const bool read = platform::ListDirectory(prefix, [&](const platform::DirectoryEntry &entry) {
        Tick();
        if (m_state.stop.load(std::memory_order_relaxed)) {
            stopped = true;
            return false;
        }
        if (recurse && entry.kind == platform::EntryKind::Folder) {
            if (device != 0 && entry.device != device)
                return true;   // another file system mounted here
            const bool whole = Walk(prefix + entry.name, true, device);
            m_cached = &cached;
            if (!whole) {
                stopped = true;
                return false;
            }
            return true;
        }
        // FIFOs, sockets, devices and dangling links are never songs. A recursive walk lists only files; without
        // recursion a folder (or a link to one) whose name ends in an accepted extension is listed as a row.
        if (entry.kind == platform::EntryKind::Other || (recurse && entry.kind != platform::EntryKind::File))
            return true;
        const qsizetype dot = entry.name.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0 && m_extensions.IsAccepted(QStringView(entry.name).mid(dot + 1))) {
            if (stamping)
                AddEntry(prefix, nativePrefix, entry);
            else
                AddFile(prefix, entry.name);
        }
        return true;
    }, &error, stamping);
    if (!read && m_errors)
        m_errors(folder, error);
    // A folder read whole: entries of files no longer there (or no longer listed) go.
    if (m_cache && m_reader && read && !stopped && !m_state.stop.load())
        m_cache->Settle(cached);
    m_cached = outer;
    return !stopped;
}

bool FolderWalker::AddFile(const QString &folder, const QString &name)
{
    if (m_reader && m_cache) {
        platform::DirectoryEntry entry;   // not stamped: AddEntry takes its stamp
        entry.name = name;
        entry.nativeName = platform::EncodeName(name);
        return AddEntry(folder, platform::EncodeName(folder), entry);
    }
    const QByteArray key = platform::FileNameKey(folder + name);
    if (m_listed.contains(key))
        return false;
    m_listed.insert(key);
    if (m_reader)
        m_reader->Add(folder, name);
    else
        m_sink(MakeTrackRecord(folder, name));
    return true;
}

bool FolderWalker::AddEntry(const QString &folder, const QByteArray &nativeFolder, const platform::DirectoryEntry &entry)
{
    const QByteArray native = nativeFolder + entry.nativeName;
    const QByteArray key = platform::FileNameKeyOfNative(native);
    if (m_listed.contains(key)) {
        if (m_cached)
            m_cached->KeepNative(entry.nativeName);
        return false;
    }
    m_listed.insert(key);
    const QString &name = entry.name;
    ToStore store;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && IsTaggableExtension(name.mid(dot + 1)) &&
        (entry.stamped ? (store.stamp = entry.stamp, 0) : platform::StampOf(native, store.stamp)) == 0) {
        TrackRecord record;
        record[Column::Filename] = name.left(dot);
        record[Column::Ext] = name.mid(dot + 1);
        record[Column::Path] = folder;
        if (m_cached && m_cached->FindNative(entry.nativeName, store.stamp, record)) {
            m_toStore.push_back(ToStore());
            m_reader->AddRow(std::move(record));
            return true;
        }
        store.store = true;
        store.folder = folder;
        store.name = name;
    }
    m_toStore.push_back(std::move(store));
    m_reader->Add(folder, name);
    return true;
}
