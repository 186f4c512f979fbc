#pragma once

#include <QString>
#include <QStringList>

// The desktop's program for a kind of document, and starting programs.
namespace platform {

// The command line the desktop opens a file with: the MIME types of its name (and their aliases), the one
// `xdg-mime query filetype` gives an existing file first; for each, the user's own default (mimeapps.list), and
// then for each the answer of `xdg-mime query default`; the first .desktop file found whose program is not this
// one gives its Exec line. The file need not exist. Empty when nothing is associated (or xdg-mime is missing).
QString ExecLineForFile(const QString &file);
// The program an Exec line runs (past an "env VAR=value" prefix), with its full path; empty when there is none.
QString ProgramOfExecLine(const QString &exec);
// ProgramOfExecLine(ExecLineForFile(fileName)).
QString ProgramForFile(const QString &fileName);

// An Exec line split into the program and its arguments by the desktop-entry rules: blanks separate, double
// quotes group with \" \` \$ \\ escaped inside them; %f %F %u %U become `file` (added at the end when the line
// has none of them), %% a percent sign, and every other field code is dropped.
QStringList ExecArguments(const QString &exec, const QString &file);

// The command line of the desktop's default handler of a URL scheme ("https"); empty when there is none.
QString ExecLineForScheme(const QString &scheme);
// Whether the desktop's associations can be asked at all (xdg-mime is there).
bool CanAskDesktop();

// Starts a command line (program first, found on PATH when it has no slash), not waiting for it; false with the
// reason in `why` when it could not be started (no such program, not executable, the system could not run it).
bool StartCommand(const QStringList &command, QString *why = nullptr);

// Where Play writes its playlist: "temp.m3u" in the user's private runtime folder.
QString PlaylistPath();

} // namespace platform
