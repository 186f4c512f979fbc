#include "platform/changeobserver.h"

namespace platform {

namespace {
thread_local ChangeObserver *t_observer = nullptr;
}

FileIdentity IdentityOf(const FileStatus &status)
{
    FileIdentity identity;
    identity.device = status.device;
    identity.inode = status.inode;
    identity.size = status.size;
    identity.modified = status.modified;
    identity.changed = status.changed;
    return identity;
}

int Identify(const QString &path, FileIdentity &identity)
{
    FileStatus status;
    if (const int error = Stat(path, status))
        return error;
    identity = IdentityOf(status);
    return 0;
}

FileChangeNote::FileChangeNote(FileChange what, const QString &from, const QString &to, const QString &subject,
                               const QByteArray &trashRecord)
    : m_observer(t_observer)
{
    if (!m_observer)
        return;
    FileIdentity before;
    Identify(subject, before);
    m_token = m_observer->FileChanging(what, from, to, before, trashRecord);
}

void FileChangeNote::Done(bool ok, const QString &result)
{
    if (!m_observer)
        return;
    FileIdentity after;
    if (ok)
        Identify(result, after);
    m_observer->FileChanged(m_token, ok, after);
    m_observer = nullptr;
}

ChangeObserver *CurrentObserver() { return t_observer; }

ChangeObserver *SetCurrentObserver(ChangeObserver *observer)
{
    ChangeObserver *previous = t_observer;
    t_observer = observer;
    return previous;
}

} // namespace platform
