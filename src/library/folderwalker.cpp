#include "library/folderwalker.h"

#include "platform/directory.h"
#include "library/scanstate.h"

ScanState &ScanState::Instance()
{
    static ScanState state;
    return state;
}

FolderWalker::FolderWalker(ScanState &state, ExtensionSet extensions, RowSink sink)
    : m_state(state), m_extensions(std::move(extensions)), m_sink(std::move(sink))
{
}

bool FolderWalker::WalkFolder(const QString &folder, bool recurse)
{
    if (folder.isEmpty() || m_state.stop.load())
        return false;
    return Walk(folder, recurse, m_stayOnDevice ? platform::DeviceOf(folder) : 0);
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
    const bool read = platform::ListDirectory(prefix, [&](const platform::DirectoryEntry &entry) {
        Tick();
        if (m_state.stop.load(std::memory_order_relaxed)) {
            stopped = true;
            return false;
        }
        if (recurse && entry.kind == platform::EntryKind::Folder) {
            if (device != 0 && entry.device != device)
                return true;   // another file system mounted here
            if (!Walk(prefix + entry.name, true, device)) {
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
        if (dot >= 0 && m_extensions.IsAccepted(QStringView(entry.name).mid(dot + 1)))
            AddFile(prefix, entry.name);
        return true;
    }, &error);
    if (!read && m_errors)
        m_errors(folder, error);
    return !stopped;
}

bool FolderWalker::AddFile(const QString &folder, const QString &name)
{
    const QByteArray key = platform::FileNameKey(folder + name);
    if (m_listed.contains(key))
        return false;
    m_listed.insert(key);
    m_sink(MakeTrackRecord(folder, name));
    return true;
}
