#pragma once

#include <QString>

// The user's own folders as the desktop knows them.
namespace platform {

struct TopFolder
{
    QString path;    // empty when the folder does not exist
    QString label;   // how the folder tree names it
};

// The folder at the top of the tree beside the drives: on Linux music lives beside Documents, not inside it,
// so it is the home folder, labelled "Home"; on Windows the Documents folder, labelled with its own name.
TopFolder UserTopFolder();

// The user's music folder when it exists as a folder; empty otherwise.
QString UserMusicFolder();

} // namespace platform
