#pragma once

#include "library/extensionset.h"
#include "library/tagcache.h"
#include "library/trackrecord.h"
#include "platform/directory.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class OrderedReader;
struct ScanState;

// Walks folders and turns each accepted file into a row, skipping files that are already listed.
// Runs on whichever thread calls it (a listing worker, or the command line), which hands on every row; with more
// than one thread, helpers read other folders of the tree meanwhile (and other threads read tags), but the rows
// come in the order a walk on one thread gives. Every thread reads the stop flag at every directory entry; none
// touches widgets.
class FolderWalker
{
public:
    using RowSink = std::function<void(TrackRecord &&)>;
    using ErrorSink = std::function<void(const QString &folder, int error)>;

    FolderWalker(ScanState &state, ExtensionSet extensions, RowSink sink);
    ~FolderWalker();
    FolderWalker(const FolderWalker &) = delete;
    FolderWalker &operator=(const FolderWalker &) = delete;

    // Files already in the list, by FileNameKey of their full path; they are not added again.
    void SetListed(std::vector<QSet<QByteArray>> listed);
    // Told of each folder that could not be read (its path and the errno value); without one, such folders
    // simply give no rows.
    void SetErrorSink(ErrorSink sink) { m_errors = std::move(sink); }
    // Keep a recursive walk on the file system it started on (a drive walk must not wander into other mounts).
    void SetStayOnDevice(bool stay) { m_stayOnDevice = stay; }
    // How many threads read the files' tags during a walk, and (with the cache) how many read folders (the
    // calling thread counted in both); the rows come in the order one thread gives them whatever the number.
    // OrderedReader::DefaultThreads() unless set.
    void SetReaderThreads(int threads) { m_readerThreads = threads; }
    // How many threads help read folders of a cached recursive walk besides the walking one (-1: as many as
    // the reader threads).
    void SetFolderHelpers(int helpers) { m_folderHelpers = helpers; }
    // Takes the tag cells of unchanged files from the cache instead of reading them, and keeps what it reads
    // there (nullptr: every file is read). The walker writes through it on the calling thread only; helpers
    // read the same file through connections of their own.
    void SetCache(TagCache *cache) { m_cache = cache; }
    // Whether the files a walk adds are remembered, so that later walks and AddFile pass over them (on unless
    // turned off). A caller whose next walk is its last turns it off: one walk never meets a file twice.
    void SetRemembersFiles(bool remember) { m_remember = remember; }

    // Walks `folder`; with `recurse`, its subfolders too (never through a link to a folder). Returns false when
    // the stop flag ended the walk.
    bool WalkFolder(const QString &folder, bool recurse);
    // Adds one file unless it is listed already; returns whether it was added.
    bool AddFile(const QString &folder, const QString &name);

private:
    struct Task;
    struct Item;

    bool Listed(const QByteArray &key) const;
    // Reads the folder of `task` into its items (with `deliver`, hands them on at once up to its first subfolder)
    // and queues its subfolders. Any thread; `reader` is that thread's cache connection, or nullptr.
    void ReadTask(Task &task, TagCache *reader, bool deliver);
    // The item for a file of a folder being read, if it is to be listed.
    // `ext` is the extension of the row made before (a new row shares its string when equal).
    bool MakeItem(Task &task, const QByteArray &nativePrefix, platform::DirectoryEntry &entry, QString &ext,
                  Item &item) const;
    // Calling thread: hands on the rows of `task` and its subfolders in walk order, reading folders itself while
    // it waits. False when the stop flag ended it.
    bool Drain(Task &task);
    void Deliver(Task &task, Item &item);
    // A folder handed on whole: its memory is freed here and now, or by the helper that read it.
    void Spend(std::unique_ptr<Task> task);
    void Help(int helper);
    void Tick();

    ScanState &m_state;
    ExtensionSet m_extensions;
    RowSink m_sink;
    ErrorSink m_errors;
    // Files listed before, and those earlier walks added; a walk only reads them (helpers look keys up at once),
    // so the keys it adds go into a set of their own.
    std::vector<QSet<QByteArray>> m_listed;
    QSet<QByteArray> m_added;
    bool m_remember = true;
    bool m_stayOnDevice = false;
    int m_readerThreads;
    int m_folderHelpers = -1;
    OrderedReader *m_reader = nullptr;   // during a walk
    TagCache *m_cache = nullptr;
    // What to keep in the cache when a row comes back from the reader: one entry per row given, in order.
    struct ToStore
    {
        bool store = false;
        QString folder;
        QString name;
        platform::FileStamp stamp;
    };
    std::deque<ToStore> m_toStore;

    // The walk under way: folders waiting for a reader (in walk order, nearest first), and the helpers.
    bool m_recurse = false;
    bool m_stamping = false;
    std::uint64_t m_device = 0;
    std::mutex m_mutex;
    std::condition_variable m_work;   // a folder queued, or the end (helpers wait for it)
    std::condition_variable m_done;   // the folder the calling thread waits for is read
    int m_idleHelpers = 0;
    std::size_t m_waiting = 0;   // items of folders read and not yet handed on
    const Task *m_awaited = nullptr;
    std::deque<Task *> m_queue;
    bool m_closing = false;
    std::vector<std::thread> m_helpers;
    std::vector<std::vector<std::unique_ptr<Task>>> m_spent;   // handed on, for the helper that read them to free
};
