#include "platform/flushbatch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

thread_local FlushBatch *t_batch = nullptr;
std::atomic<int (*)(int)> g_flushForTests{nullptr};

// The most descriptors a batch holds before it flushes them early.
constexpr std::size_t kMaxHeld = 256;

} // namespace

FlushBatch::FlushBatch() : m_outer(t_batch)
{
    if (!m_outer)
        t_batch = this;
}

FlushBatch::~FlushBatch()
{
    Finish();
    if (t_batch == this)
        t_batch = nullptr;
}

FlushBatch *FlushBatch::Current() { return t_batch; }

void FlushBatch::SetFlushForTests(int (*flush)(int fd)) { g_flushForTests.store(flush); }

void FlushBatch::Enlist(int fd)
{
    struct stat st{};
    if (::fstat(fd, &st) != 0)
        return;
    for (const Held &held : m_held) {
        if (held.device == std::uint64_t(st.st_dev) && held.inode == std::uint64_t(st.st_ino))
            return;
    }
    const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept < 0) {
        // No descriptor to spare: flush this one now.
        const int error = ::fsync(fd) == 0 ? 0 : errno;
        if (m_error == 0 && !S_ISDIR(st.st_mode))
            m_error = error;
        return;
    }
    m_held.push_back(Held{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), kept, S_ISDIR(st.st_mode)});
    if (m_held.size() >= kMaxHeld) {
        const int error = FlushHeld();
        if (m_error == 0)
            m_error = error;
    }
}

int FlushBatch::FlushHeld()
{
    if (m_held.empty())
        return 0;
    int result = 0;
    if (int (*hook)(int) = g_flushForTests.load()) {
        result = hook(m_held.front().fd);
    } else {
        // Flushes issued together: the file system's journal takes them in one commit instead of one each.
        std::atomic<int> firstError{0};
        const std::size_t threads = std::min<std::size_t>(8, (m_held.size() + 7) / 8);
        auto flushSome = [&](std::size_t from) {
            for (std::size_t i = from; i < m_held.size(); i += threads) {
                const Held &held = m_held[i];
                const int status = held.folder ? ::fsync(held.fd) : ::fdatasync(held.fd);
                // A folder some file systems cannot flush is no failure; a file's write-back error is.
                int expected = 0;
                if (status != 0 && !held.folder)
                    firstError.compare_exchange_strong(expected, errno);
            }
        };
        std::vector<std::thread> helpers;
        for (std::size_t t = 1; t < threads; ++t)
            helpers.emplace_back(flushSome, t);
        flushSome(0);
        for (std::thread &helper : helpers)
            helper.join();
        result = firstError.load();
    }
    for (const Held &held : m_held)
        ::close(held.fd);
    m_held.clear();
    return result;
}

int FlushBatch::Finish()
{
    const int early = std::exchange(m_error, 0);
    int now = 0;
    if (m_background.joinable()) {
        m_background.join();
        now = m_backgroundResult;
    } else {
        now = FlushHeld();
    }
    return early != 0 ? early : now;
}

void FlushBatch::FinishInBackground()
{
    if (t_batch == this)
        t_batch = nullptr;
    if (!m_background.joinable() && !m_held.empty())
        m_background = std::thread([this] { m_backgroundResult = FlushHeld(); });
}

int FlushWritten(int fd)
{
    if (FlushBatch *batch = FlushBatch::Current()) {
        batch->Enlist(fd);
        return 0;
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

void FlushFolder(int folder)
{
    if (FlushBatch *batch = FlushBatch::Current())
        batch->Enlist(folder);
    else
        ::fsync(folder);
}

} // namespace platform
