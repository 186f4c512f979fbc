#include "library/orderedreader.h"

#include <QThread>

#include <algorithm>

OrderedReader::OrderedReader(int threads, const std::atomic<int> &stop, Sink sink)
    : m_stop(stop), m_sink(std::move(sink)), m_maxPending(std::size_t(std::max(1, threads)) * 64)
{
    m_spent.resize(std::size_t(std::max(1, threads)));
    for (int i = 1; i < threads; ++i)
        m_helpers.emplace_back([this, i] { Help(i); });
}

OrderedReader::~OrderedReader() { Finish(); }

int OrderedReader::DefaultThreads() { return std::clamp(QThread::idealThreadCount(), 1, 8); }

bool OrderedReader::ReadOne(std::unique_lock<std::mutex> &lock, int reader)
{
    // Rows given ready (and handed on already) need no reader.
    m_nextClaim = std::max(m_nextClaim, m_base);
    while (m_nextClaim < m_base + m_slots.size() && m_slots[std::size_t(m_nextClaim - m_base)].done)
        ++m_nextClaim;
    if (Stopped() || m_nextClaim >= m_base + m_slots.size())
        return false;
    const std::uint64_t number = m_nextClaim++;
    ++m_inFlight;
    // Slots before this one may be handed on meanwhile, but not this one: it is not done, and a deque keeps its
    // elements in place as others come and go at its ends, so the slot is read without copying its strings.
    Slot &slot = m_slots[std::size_t(number - m_base)];
    lock.unlock();
    TrackRecord row = MakeTrackRecord(slot.folder, slot.name);
    lock.lock();
    slot.row = std::move(row);
    slot.done = true;
    slot.reader = reader;
    --m_inFlight;
    if (number == m_base || m_inFlight == 0)
        m_ready.notify_all();
    return true;
}

void OrderedReader::Help(int helper)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::vector<TrackRecord> spent;
    for (;;) {
        if (!m_spent[std::size_t(helper)].empty()) {
            spent.swap(m_spent[std::size_t(helper)]);
            lock.unlock();
            spent.clear();
            lock.lock();
        }
        if (ReadOne(lock, helper))
            continue;
        if (m_closing)
            return;
        m_work.wait(lock);
    }
}

void OrderedReader::Deliver(std::unique_lock<std::mutex> &lock)
{
    // After a stop nothing more is handed on, as a single reader would have stopped there. The rows done at the
    // front are taken in one go, so the lock is let go once for all of them.
    while (!m_slots.empty() && m_slots.front().done && !Stopped()) {
        m_delivering.clear();
        while (!m_slots.empty() && m_slots.front().done) {
            m_delivering.emplace_back(std::move(m_slots.front().row), m_slots.front().reader);
            m_slots.pop_front();
            ++m_base;
        }
        lock.unlock();
        for (auto &delivered : m_delivering) {
            if (Stopped())
                break;
            m_sink(std::move(delivered.first));
        }
        // What the sink did not take of a helper's row goes back to that helper; the rest is freed here.
        std::vector<std::pair<TrackRecord, int>> returned;
        for (auto &delivered : m_delivering) {
            if (delivered.second != 0 && !delivered.first.cells[0].isNull())   // a row moved away holds nothing
                returned.push_back(std::move(delivered));
        }
        m_delivering.clear();
        lock.lock();
        for (auto &[row, reader] : returned)
            m_spent[std::size_t(reader)].push_back(std::move(row));
    }
}

void OrderedReader::Add(const QString &folder, const QString &name)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closing || Stopped())
        return;
    m_slots.push_back(Slot{folder, name, TrackRecord(), false});
    if (!m_helpers.empty())
        m_work.notify_one();
    // Alone, or with the readers behind: read here, so the queue stays short and the first rows come at once.
    if (m_helpers.empty() || m_slots.size() > m_maxPending)
        ReadOne(lock);
    Deliver(lock);
}

void OrderedReader::AddRow(TrackRecord &&row)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closing || Stopped())
        return;
    Slot slot;
    slot.row = std::move(row);
    slot.done = true;
    m_slots.push_back(std::move(slot));
    Deliver(lock);
}

void OrderedReader::Finish()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closing && m_helpers.empty())
        return;
    for (;;) {
        while (ReadOne(lock)) {
        }
        Deliver(lock);
        // Everything given is handed on, or a stop ends it: rows read meanwhile are dropped.
        if (m_slots.empty() || Stopped())
            break;
        m_ready.wait(lock, [this] { return m_slots.empty() || m_slots.front().done; });
    }
    // Reads under way write into their slots: they end before the slots go.
    m_ready.wait(lock, [this] { return m_inFlight == 0; });
    m_base += m_slots.size();
    m_slots.clear();
    m_nextClaim = m_base;
    m_closing = true;
    m_work.notify_all();
    lock.unlock();
    for (std::thread &helper : m_helpers)
        helper.join();
    m_helpers.clear();
    for (std::vector<TrackRecord> &spent : m_spent)
        spent.clear();
}
