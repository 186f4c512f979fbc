#pragma once

#include <QByteArray>
#include <QString>

// The temporary files beside a file that is rewritten or copied: made under a fresh short name, locked by their
// writer while written, and the stale ones an interrupted writer left removed.
namespace platform {

// Creates a new temporary file in an open folder under a fresh short name (set in `name`) and locks it for as long
// as it stays open; returns its descriptor, or -1 with errno set. Stale ones of earlier writers are removed first
// (once a minute per folder).
int CreateTemporary(int folder, QByteArray &name);
// Removes the temporary files an interrupted copy or tag write left in an open folder (those no writer locks).
void RemoveStaleTemporaries(int folder);
// The same for a folder by its path (recovery after a crash).
void RemoveStaleTemporariesIn(const QString &folder);

} // namespace platform
