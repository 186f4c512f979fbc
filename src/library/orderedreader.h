#pragma once

#include "library/trackrecord.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Reads the rows of files on several threads and hands them on in the order the files were given, on the
// thread that gives them (a walk's own thread), so whoever takes the rows sees exactly what one thread would
// give. The giving thread reads too when the others fall behind, so with one thread it reads every file itself.
// Every reader looks at the stop flag before it starts a file, and no row is handed on once it is set (as one
// thread, stopping there, would give none); rows read ahead are dropped.
class OrderedReader
{
public:
    using Sink = std::function<void(TrackRecord &&)>;

    // `threads` readers in all, the giving thread counted (at least 1).
    OrderedReader(int threads, const std::atomic<int> &stop, Sink sink);
    ~OrderedReader();
    OrderedReader(const OrderedReader &) = delete;
    OrderedReader &operator=(const OrderedReader &) = delete;

    // Queues a file (`folder` ends in a separator) and hands on the rows that are ready.
    void Add(const QString &folder, const QString &name);
    // Queues a row that needs no reading (its cells known already), in its place among the files.
    void AddRow(TrackRecord &&row);
    // Reads what is left (unless stopped), hands on every row, and lets the other threads go.
    void Finish();

    // How many readers a listing uses here: the machine's threads, at most 8.
    static int DefaultThreads();

private:
    struct Slot
    {
        QString folder;
        QString name;
        TrackRecord row;
        bool done = false;
        int reader = 0;   // who read it: 0 the giving thread, n helper n
    };

    void Help(int helper);
    // With the lock held: reads the next unclaimed file (the lock is let go while reading) as `reader`. False
    // when there is none, or the stop flag is set.
    bool ReadOne(std::unique_lock<std::mutex> &lock, int reader = 0);
    // With the lock held: hands on the rows at the front that are done (the lock is let go for the sink).
    void Deliver(std::unique_lock<std::mutex> &lock);
    bool Stopped() const { return m_stop.load(std::memory_order_relaxed) != 0; }

    const std::atomic<int> &m_stop;
    Sink m_sink;
    std::mutex m_mutex;
    std::condition_variable m_work;    // a file to read, or the end
    std::condition_variable m_ready;   // a row at the front is done
    std::deque<Slot> m_slots;          // files given and not yet handed on, in order
    std::vector<std::pair<TrackRecord, int>> m_delivering;   // rows taken from the front, and their readers
    // What the sink left of the rows each helper read, for that helper to free: memory freed by the thread that
    // allocated it spares both threads the allocator's locks.
    std::vector<std::vector<TrackRecord>> m_spent;
    std::uint64_t m_base = 0;          // the number of the front slot
    std::uint64_t m_nextClaim = 0;     // the number of the next file to read
    int m_inFlight = 0;                // files being read now
    bool m_closing = false;
    std::size_t m_maxPending;
    std::vector<std::thread> m_helpers;
};
