#pragma once

#include "library/extensionset.h"
#include "library/tagcache.h"
#include "library/trackrecord.h"
#include "platform/directory.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>

class OrderedReader;
struct ScanState;

// Walks folders and turns each accepted file into a row, skipping files that are already listed.
// Runs on whichever thread calls it (a listing worker, or the command line); it reads the stop flag at every
// directory entry and never touches widgets.
class FolderWalker
{
public:
    using RowSink = std::function<void(TrackRecord &&)>;
    using ErrorSink = std::function<void(const QString &folder, int error)>;

    FolderWalker(ScanState &state, ExtensionSet extensions, RowSink sink);

    // Files already in the list, by FileNameKey of their full path; they are not added again.
    void SetListed(QSet<QByteArray> listed) { m_listed = std::move(listed); }
    // Told of each folder that could not be read (its path and the errno value); without one, such folders
    // simply give no rows.
    void SetErrorSink(ErrorSink sink) { m_errors = std::move(sink); }
    // Keep a recursive walk on the file system it started on (a drive walk must not wander into other mounts).
    void SetStayOnDevice(bool stay) { m_stayOnDevice = stay; }
    // How many threads read the files' tags during a walk (the walking thread counted); the rows come in the
    // order one thread gives them whatever the number. OrderedReader::DefaultThreads() unless set.
    void SetReaderThreads(int threads) { m_readerThreads = threads; }
    // Takes the tag cells of unchanged files from the cache instead of reading them, and keeps what it reads
    // there (nullptr: every file is read). The walker uses it on its own thread only.
    void SetCache(TagCache *cache) { m_cache = cache; }

    // Walks `folder`; with `recurse`, its subfolders too (never through a link to a folder). Returns false when
    // the stop flag ended the walk.
    bool WalkFolder(const QString &folder, bool recurse);
    // Adds one file unless it is listed already; returns whether it was added.
    bool AddFile(const QString &folder, const QString &name);

private:
    bool Walk(const QString &folder, bool recurse, std::uint64_t device);
    // AddFile for an entry of a folder being walked: its name's bytes and its stamp come from the folder's reading.
    bool AddEntry(const QString &folder, const QByteArray &nativeFolder, const platform::DirectoryEntry &entry);
    void Tick();

    ScanState &m_state;
    ExtensionSet m_extensions;
    RowSink m_sink;
    ErrorSink m_errors;
    QSet<QByteArray> m_listed;
    bool m_stayOnDevice = false;
    int m_readerThreads;
    OrderedReader *m_reader = nullptr;   // during a walk
    TagCache *m_cache = nullptr;
    TagCache::Folder *m_cached = nullptr;   // the cache's entries of the folder being walked
    // One entry a row given to the reader, in the same order: what to keep in the cache when the row comes back.
    struct ToStore
    {
        bool store = false;
        QString folder;
        QString name;
        platform::FileStamp stamp;
    };
    std::deque<ToStore> m_toStore;
};
