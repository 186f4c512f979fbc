#pragma once

#include <QString>

namespace platform {

// The program's folder for state that outlives a run but is no setting (the undo journal):
// $XDG_STATE_HOME/Kestrine/Tunegrove, by default ~/.local/state/Kestrine/Tunegrove. Qt 6.4 knows no such location.
QString StateFolder();

// The program's folder for data that can be made again (the tag cache): $XDG_CACHE_HOME/Kestrine/Tunegrove, by
// default ~/.cache/Kestrine/Tunegrove.
QString CacheFolder();

// Makes a folder and its missing parents, the last one private to the user (0700); 0 or an errno.
int MakePrivateFolder(const QString &path);

} // namespace platform
