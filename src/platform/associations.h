#pragma once

#include <QString>
#include <QStringList>

// The desktop's program for a kind of document, and starting programs.
namespace platform {

// The command line the desktop opens a file of this name with: every MIME type of the name (and their aliases)
// asked of `xdg-mime query default`, the first handler's .desktop file found, its Exec line. The file need not
// exist. Empty when nothing is associated (or xdg-mime is missing).
QString ExecLineForFile(const QString &fileName);
// The program an Exec line runs (past an "env VAR=value" prefix), with its full path; empty when there is none.
QString ProgramOfExecLine(const QString &exec);
// ProgramOfExecLine(ExecLineForFile(fileName)).
QString ProgramForFile(const QString &fileName);

// An Exec line split into the program and its arguments by the desktop-entry rules: blanks separate, double
// quotes group with \" \` \$ \\ escaped inside them; %f %F %u %U become `file` (added at the end when the line
// has none of them), %% a percent sign, and every other field code is dropped.
QStringList ExecArguments(const QString &exec, const QString &file);

// Starts a command line (program first), not waiting for it; false when it could not be started.
bool StartCommand(const QStringList &command);

// Where Play writes its playlist: "temp.m3u" in the user's private runtime folder.
QString PlaylistPath();

// Starts `program` with one argument, not waiting for it; false when it could not be started.
bool StartProgram(const QString &program, const QString &argument);

} // namespace platform
