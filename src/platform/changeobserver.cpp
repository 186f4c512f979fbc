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

ChangeObserver *CurrentObserver() { return t_observer; }

ChangeObserver *SetCurrentObserver(ChangeObserver *observer)
{
    ChangeObserver *previous = t_observer;
    t_observer = observer;
    return previous;
}

} // namespace platform
