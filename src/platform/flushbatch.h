#pragma once

#include <cstdint>
#include <thread>
#include <vector>

namespace platform {

// Durability for a batch of tag writes. While a FlushBatch lives on a thread, the in-place writes and the
// renames of copies made on that thread skip their own flush (fsync of each file, of each folder) and Finish
// makes them durable at once: every file and folder written is flushed (fdatasync, fsync for folders), the
// flushes issued together from a few threads so the file system commits them as one. Only these files are
// waited for, never the other dirty data of the file system (a download or a build writing beside us). A new
// file's bytes are still flushed before it is renamed over the old one, batch or not, so a rename never exposes
// bytes that are not on disk. A batch that holds many files flushes them early, keeping the first error for
// Finish; one ended without Finish is flushed by its destructor, its result lost; batches do not nest (an inner
// one adds to the outer).
class FlushBatch
{
public:
    FlushBatch();
    ~FlushBatch();
    FlushBatch(const FlushBatch &) = delete;
    FlushBatch &operator=(const FlushBatch &) = delete;

    // Flushes every file and folder written since the batch began (or since the last Finish); 0 or the first
    // error (a write-back error since the writes reaches us here: EIO, ENOSPC).
    int Finish();
    // Starts flushing what the batch holds on threads of its own, so the caller can go on with other work, and
    // stops taking files (a new batch may begin on this thread); Finish waits for the flush and returns its result.
    void FinishInBackground();

    // The batch running on this thread, or nullptr.
    static FlushBatch *Current();
    // Adds a written file or a changed folder (its descriptor is duplicated: the caller may close it).
    void Enlist(int fd);

    // Tests: a function run once per flush of the batch's files instead of flushing them (nullptr: flush again).
    static void SetFlushForTests(int (*flush)(int fd));

private:
    int FlushHeld();

    struct Held
    {
        std::uint64_t device, inode;
        int fd;
        bool folder;
    };
    std::vector<Held> m_held;
    int m_error = 0;   // of an early flush, for Finish
    FlushBatch *m_outer = nullptr;
    std::thread m_background;
    int m_backgroundResult = 0;
};

// The flush of one written file: fsync now, or its file system's turn at the end of the running batch.
int FlushWritten(int fd);
// The same for a folder whose entries changed (a rename); a failure is not reported (some file systems cannot).
void FlushFolder(int folder);

} // namespace platform
