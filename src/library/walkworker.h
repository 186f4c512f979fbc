#pragma once

#include "platform/drives.h"
#include "library/extensionset.h"
#include "library/trackrecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QSet>
#include <QThread>

#include <deque>
#include <vector>

class FolderWalker;
struct ScanState;

// A thread that walks folders and hands the rows it finds to the GUI thread in batches, in walk order: the first
// within about 100 ms, then at least every 50 ms while rows come. It reads tags on its own thread, never touches
// widgets, and stops at the next directory entry once ScanState::stop is set. At its end it sets the progress
// tick to -1 and clears the scanning and stop flags.
class WalkWorker : public QThread
{
    Q_OBJECT
public:
    WalkWorker(ScanState &state, const ExtensionSet &extensions, std::vector<QSet<QByteArray>> listed, QObject *parent = nullptr);

    // The tag cache the walk uses (TagCache::DefaultFile() unless set; empty: none). Set before start.
    void SetCacheFile(const QString &file) { m_cacheFile = file; }

    // Takes the rows found so far (GUI thread).
    // The rows waiting (at most `most` of them, the first), on the receiving thread.
    std::vector<TrackRecord> TakeRows(std::size_t most = std::size_t(-1));
    bool HasRows() const;

Q_SIGNALS:
    // Rows are waiting for TakeRows. Sent once per batch, not again until the rows were taken.
    void RowsReady();

protected:
    void run() final;
    virtual void Walk(FolderWalker &walker) = 0;

    ScanState &m_state;

private:
    void Collect(TrackRecord &&row);
    void Flush();

    ExtensionSet m_extensions;
    std::vector<QSet<QByteArray>> m_listed;
    QString m_cacheFile;
    std::vector<TrackRecord> m_batch;   // worker side
    QElapsedTimer m_sinceFlush;
    mutable QMutex m_mutex;
    std::deque<std::vector<TrackRecord>> m_ready;   // batches waiting, guarded by m_mutex
    std::size_t m_frontTaken = 0;                     // rows of the first batch taken already
    bool m_signalled = false;           // guarded by m_mutex
};

// Lists one folder, with or without its subfolders.
class ListingWorker : public WalkWorker
{
    Q_OBJECT
public:
    ListingWorker(ScanState &state, const ExtensionSet &extensions, std::vector<QSet<QByteArray>> listed, QString folder,
                  bool recurse, QObject *parent = nullptr);

protected:
    void Walk(FolderWalker &walker) override;

private:
    QString m_folder;
    bool m_recurse;
};

// Walks every drive given, with subfolders, each on its own file system only.
class ScanWorker : public WalkWorker
{
    Q_OBJECT
public:
    ScanWorker(ScanState &state, const ExtensionSet &extensions, std::vector<platform::Drive> drives,
               QObject *parent = nullptr);

    // The drives a computer scan walks: removable and CD-ROM drives only when the settings allow them.
    static std::vector<platform::Drive> AcceptedDrives(const std::vector<platform::Drive> &drives, bool removable,
                                                        bool cdrom);

protected:
    void Walk(FolderWalker &walker) override;

private:
    std::vector<platform::Drive> m_drives;
};
