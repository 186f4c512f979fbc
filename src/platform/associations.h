#pragma once

#include <QString>

// The desktop's program for a kind of document, and starting programs.
namespace platform {

// The program the desktop opens a file of this name with: every MIME type of the name (and their aliases) asked of
// `xdg-mime query default`, the first handler's .desktop file found, the program of its Exec line. The file need
// not exist. Empty when nothing is associated (or xdg-mime is missing).
QString ProgramForFile(const QString &fileName);

// Where Play writes its playlist: "temp.m3u" in the user's private runtime folder.
QString PlaylistPath();

// Starts `program` with one argument, not waiting for it; false when it could not be started.
bool StartProgram(const QString &program, const QString &argument);

} // namespace platform
