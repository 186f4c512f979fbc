#pragma once

#include <QString>
#include <QStringList>

// The window program's command line, read before any window (or display connection) exists: --help and
// --version answer at once; operands are folders to list and files to select; the word "StartUp" keeps its
// meaning (a start in the tray); Qt's own options (-style, -platform, ...) pass through to Qt.
struct GuiCommandLine
{
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QString error;          // Action::Error: what was wrong ("unknown option --frob")
    QString folder;         // the folder to list (absolute, clean); the first folder given, else the first file's
    QStringList files;      // files to select once listed (absolute, clean), in the order given
    QStringList missing;    // operands that name nothing on disk, as given
    // The arguments that are not paths (options and words): what the start mode looks for "StartUp" in, so that a
    // song whose path holds the word never sends the program to the tray.
    QStringList words;
};

GuiCommandLine ParseGuiCommandLine(const QStringList &arguments);   // without the program name

// The text --help prints (and an error prints to stderr before "exit 2").
QString GuiUsage();
