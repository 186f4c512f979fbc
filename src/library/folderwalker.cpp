#include "library/folderwalker.h"

#include "library/tracksort.h"

#include "platform/directory.h"
#include "platform/names.h"
#include "library/orderedreader.h"
#include "library/scanstate.h"

#include <algorithm>
#include <utility>

namespace {

// Files and folders read but not yet handed on, above which helpers stop reading folders.
constexpr std::size_t kMaxWaitingItems = 50000;

} // namespace

ScanState &ScanState::Instance()
{
    static ScanState state;
    return state;
}

// One file or subfolder of a folder read, in the order the folder gave it.
struct FolderWalker::Item
{
    enum class Kind : std::uint8_t { Row, File, Folder };
    Kind kind = Kind::File;
    bool store = false;              // File: keep what is read in the cache, under `stamp`
    QString name;                    // File
    platform::FileStamp stamp;
    QByteArray key;                  // a file to remember: its FileNameKey
    TrackRecord row;                 // Row: whole, its cells from the cache
    std::unique_ptr<Task> folder;    // Folder
};

// A folder of the walk: read by whichever thread gets to it first, handed on by the calling thread in walk order.
struct FolderWalker::Task
{
    enum class State : std::uint8_t { Queued, Reading, Read };
    QString folder;   // as the walk names it (an error names this)
    QString prefix;   // the same with a separator at its end
    std::vector<Item> items;   // those not handed on while the folder was read
    TagCache::Folder cached;
    int error = 0;
    bool read = false;      // readable (ListDirectory's answer)
    bool stopped = false;   // the stop flag ended its reading
    bool uncached = false;  // on a file system whose stamps cannot be trusted: read, never cached
    State state = State::Queued;
    int readBy = 0;         // 0: the calling thread; n: helper n
    int trusted = -1;       // whether its file system keeps trustworthy stamps (-1: to be asked)
    std::uint64_t device = 0;   // its file system, from its entry in the folder above (0: not known)
};

FolderWalker::FolderWalker(ScanState &state, ExtensionSet extensions, RowSink sink)
    : m_state(state), m_extensions(std::move(extensions)), m_sink(std::move(sink)),
      m_readerThreads(OrderedReader::DefaultThreads())
{
}

FolderWalker::~FolderWalker() = default;

void FolderWalker::SetListed(std::vector<QSet<QByteArray>> listed)
{
    m_listed.clear();
    for (QSet<QByteArray> &part : listed) {
        if (!part.isEmpty())
            m_listed.push_back(std::move(part));
    }
}

bool FolderWalker::Listed(const QByteArray &key) const
{
    return std::any_of(m_listed.begin(), m_listed.end(), [&](const QSet<QByteArray> &set) { return set.contains(key); });
}

bool FolderWalker::WalkFolder(const QString &folder, bool recurse)
{
    if (folder.isEmpty() || m_state.stop.load())
        return false;
    // Rows come back from the tag readers on this thread, in order; what was read from a file goes into the
    // cache then.
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
    m_recurse = recurse;
    // With the cache, the files' stamps are taken as their folder is read (relative to it).
    m_stamping = m_cache != nullptr;
    m_device = m_stayOnDevice ? platform::DeviceOf(folder) : 0;
    if (recurse && m_remember)
        m_added.reserve(1 << 16);   // a tree of music: room for many files at once
    Task root;
    root.folder = folder;
    root.prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    root.device = m_device != 0 ? m_device : m_stamping ? platform::DeviceOf(folder) : 0;
    m_closing = false;
    // Helpers read folders when the cache spares most tag reads; without it the tags are the work, and other
    // threads reading folders would only take time from those reading tags. One thread more than the cores:
    // a thread often waits (a folder's lock, a directory not in memory), and when other programs keep every
    // core busy the scheduler shares the cores out by thread (2 cores, both busy: a relist 1.13-1.19x the
    // walk of one thread with one helper, 1.02-1.04x with two; quiet, 0.88x and 0.94x).
    const int helpers = recurse && m_cache ? std::max(0, m_folderHelpers >= 0 ? m_folderHelpers : m_readerThreads) : 0;
    m_spent.resize(std::size_t(helpers) + 1);
    for (int i = 1; i <= helpers; ++i)
        m_helpers.emplace_back([this, i] { Help(i); });
    const bool whole = Drain(root);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        m_queue.clear();
    }
    m_work.notify_all();
    // Helpers still reading (a stop) write into folders of the tree: they end before it goes.
    for (std::thread &helper : m_helpers)
        helper.join();
    m_helpers.clear();
    m_spent.clear();
    m_waiting = 0;
    reader.Finish();
    m_reader = nullptr;
    m_toStore.clear();
    if (m_cache)
        m_cache->Commit();
    if (!m_added.isEmpty())
        m_listed.push_back(std::exchange(m_added, QSet<QByteArray>()));
    return whole && !m_state.stop.load();
}

void FolderWalker::Tick()
{
    const int tick = m_state.progressTick.load(std::memory_order_relaxed) + 1;
    m_state.progressTick.store(tick > 99 || tick < 0 ? 0 : tick, std::memory_order_relaxed);
}

void FolderWalker::Help(int helper)
{
    std::unique_ptr<TagCache> cache;   // this thread's own connection, opened at its first folder
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_closing)
            return;
        // Far ahead of the rows handed on (a slow reading of tags), helpers wait rather than fill the memory.
        if (m_queue.empty() || m_state.stop.load(std::memory_order_relaxed) || m_waiting > kMaxWaitingItems) {
            ++m_idleHelpers;
            m_work.wait(lock);
            --m_idleHelpers;
            continue;
        }
        Task *task = m_queue.front();
        m_queue.pop_front();
        task->state = Task::State::Reading;
        task->readBy = helper;
        std::vector<std::unique_ptr<Task>> spent;
        spent.swap(m_spent[std::size_t(helper)]);
        lock.unlock();
        spent.clear();
        if (m_cache && !cache)
            cache = m_cache->OpenReader();
        ReadTask(*task, cache.get(), false);
        lock.lock();
    }
}

void FolderWalker::Spend(std::unique_ptr<Task> task)
{
    // A folder's strings are freed by the thread that made them (that read the folder): freeing memory another
    // thread allocated takes the allocator's lock that thread is using.
    if (task->readBy == 0)
        return;
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_spent[std::size_t(task->readBy)].push_back(std::move(task));
}

namespace {

// A folder's files and subfolders come in the order a file manager shows them, whatever order the disk keeps.
const platform::EntrySortKey &NameOrder()
{
    static const platform::EntrySortKey order = [](const QString &name) { return NaturalNameKey(name); };
    return order;
}

} // namespace

void FolderWalker::ReadTask(Task &task, TagCache *reader, bool deliver)
{
    const QString &prefix = task.prefix;
    // Stamps on a FAT card tell neither an edit that put the time back nor the next card at the same place.
    // Asked at the walk's start and at mount points; any other folder is on the file system of the one above.
    if (m_stamping && task.trusted < 0)
        task.trusted = platform::StampsAreTrustworthy(task.folder) ? 1 : 0;
    task.uncached = m_stamping && task.trusted == 0;
    if (reader && !task.uncached)
        task.cached = reader->Load(prefix);
    const QByteArray nativePrefix = m_stamping || m_remember || !m_listed.empty() ? platform::EncodeName(prefix)
                                                                                  : QByteArray();
    std::vector<Task *> subfolders;
    QString ext;   // the extension of the file before, whose text the next one shares when equal
    const bool read = platform::ListDirectory(prefix, [&](platform::DirectoryEntry &entry) {
        Tick();
        if (m_state.stop.load(std::memory_order_relaxed)) {
            task.stopped = true;
            return false;
        }
        if (m_recurse && entry.kind == platform::EntryKind::Folder) {
            if (m_device != 0 && entry.device != m_device)
                return true;   // another file system mounted here
            Item item;
            item.kind = Item::Kind::Folder;
            item.folder = std::make_unique<Task>();
            item.folder->folder = prefix + entry.name;
            item.folder->prefix = item.folder->folder + QLatin1Char('/');
            // A subfolder on the same file system is as trustworthy; another one mounted here is asked.
            item.folder->device = entry.device;
            if (entry.device != 0 && entry.device == task.device)
                item.folder->trusted = task.trusted;
            subfolders.push_back(item.folder.get());
            task.items.push_back(std::move(item));
            deliver = false;   // what follows waits for the subfolder
            return true;
        }
        // FIFOs, sockets, devices and dangling links are never songs. A recursive walk lists only files; without
        // recursion a folder (or a link to one) whose name ends in an accepted extension is listed as a row.
        if (entry.kind == platform::EntryKind::Other || (m_recurse && entry.kind != platform::EntryKind::File))
            return true;
        const qsizetype dot = entry.name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || !m_extensions.IsAccepted(QStringView(entry.name).mid(dot + 1)))
            return true;
        Item item;
        if (!MakeItem(task, nativePrefix, entry, ext, item))
            return true;
        if (deliver)
            Deliver(task, item);
        else
            task.items.push_back(std::move(item));
        return true;
    }, &task.error, m_stamping, m_device != 0 || m_stamping, NameOrder());
    task.read = read;
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_waiting += task.items.size();
    // The subfolders are read next, nearest first, as one thread would.
    if (!task.stopped && !subfolders.empty()) {
        m_queue.insert(m_queue.begin(), subfolders.begin(), subfolders.end());
        if (m_idleHelpers > 0)
            m_work.notify_all();
    }
    task.state = Task::State::Read;
    if (m_awaited == &task)
        m_done.notify_one();
}

bool FolderWalker::MakeItem(Task &task, const QByteArray &nativePrefix, platform::DirectoryEntry &entry,
                            QString &ext, Item &item) const
{
    if (m_remember || !m_listed.empty()) {
        QByteArray key = platform::FileNameKeyOfNative(nativePrefix + entry.nativeName);
        if (Listed(key)) {
            task.cached.KeepNative(entry.nativeName);   // still there: Settle keeps its entry
            return false;
        }
        if (m_remember)
            item.key = std::move(key);
    }
    QString &name = entry.name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QStringView extension = QStringView(name).mid(dot + 1);
    if (m_stamping && entry.stamped && !task.uncached && IsTaggableExtension(extension)) {
        TrackRecord record;
        if (task.cached.FindNative(entry.nativeName, entry.stamp, record)) {
            if (ext != extension)
                ext = extension.toString();
            record[Column::Ext] = ext;
            name.truncate(dot);   // the entry's own string becomes the row's: no copy
            record[Column::Filename] = std::move(name);
            record[Column::Path] = task.prefix;
            item.kind = Item::Kind::Row;
            item.row = std::move(record);
            return true;
        }
        item.store = true;
        item.stamp = entry.stamp;
    }
    item.kind = Item::Kind::File;
    item.name = std::move(name);
    return true;
}

void FolderWalker::Deliver(Task &task, Item &item)
{
    if (!item.key.isEmpty())
        m_added.insert(std::move(item.key));
    if (item.kind == Item::Kind::Row) {
        if (m_cache)
            m_toStore.emplace_back();
        m_reader->AddRow(std::move(item.row));
        return;
    }
    if (m_cache) {
        ToStore store;
        if (item.store) {
            store.store = true;
            store.folder = task.prefix;
            store.name = item.name;
            store.stamp = item.stamp;
        }
        m_toStore.push_back(std::move(store));
    }
    m_reader->Add(task.prefix, item.name);
}

bool FolderWalker::Drain(Task &task)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (task.state != Task::State::Read) {
            Task *next = nullptr;
            bool deliver = false;
            if (task.state == Task::State::Queued) {
                // Nobody has it yet: read it here, handing its first rows on at once.
                const auto queued = std::find(m_queue.begin(), m_queue.end(), &task);
                if (queued != m_queue.end())
                    m_queue.erase(queued);
                next = &task;
                deliver = true;
            } else if (!m_queue.empty() && !m_state.stop.load(std::memory_order_relaxed)) {
                // A helper reads it: read another folder meanwhile.
                next = m_queue.front();
                m_queue.pop_front();
            } else {
                m_awaited = &task;
                m_done.wait(lock);
                m_awaited = nullptr;
                continue;
            }
            next->state = Task::State::Reading;
            lock.unlock();
            ReadTask(*next, m_cache, deliver);
            lock.lock();
        }
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting -= task.items.size();
        if (m_idleHelpers > 0 && m_waiting <= kMaxWaitingItems && !m_queue.empty())
            m_work.notify_all();
    }
    for (Item &item : task.items) {
        if (m_state.stop.load(std::memory_order_relaxed))
            return false;
        if (item.kind != Item::Kind::Folder) {
            Deliver(task, item);
        } else {
            if (!Drain(*item.folder))
                return false;
            Spend(std::move(item.folder));
        }
    }
    task.items.clear();
    if (!task.read && m_errors)
        m_errors(task.folder, task.error);
    if (task.stopped || m_state.stop.load())
        return false;
    // A folder read whole: entries of files no longer there (or no longer listed) go.
    if (m_cache && task.read)
        m_cache->Settle(task.cached);
    return true;
}

bool FolderWalker::AddFile(const QString &folder, const QString &name)
{
    const QByteArray key = platform::FileNameKey(folder + name);
    if (Listed(key))
        return false;
    if (m_listed.empty())
        m_listed.emplace_back();
    m_listed.back().insert(key);
    m_sink(MakeTrackRecord(folder, name));
    return true;
}
