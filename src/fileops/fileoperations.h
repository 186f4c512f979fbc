#pragma once

#include <QString>

// The per-file steps behind Copy File(s) to, Move File(s) to, Remove File(s), Paste and drop. Each reports an
// outcome; conflicts (a target that exists, a read-only file to delete) are settled through the questions of a
// FileOpsUi, and system errors are shown through it with the system's text. No step ever replaces a file unless
// the user chose to overwrite it.
namespace fileops {

enum class Outcome {
    Done,
    Skipped,          // the user chose Skip (or closed the question)
    Stop,             // end the whole command
    DoneStopAsking,   // done, and no further conflicts are asked about in this command
    Failed,           // a system error was shown
};

enum class Answer { Yes, YesToAll, Skip, SkipAll };   // Overwrite/Delete, ... All, Skip, Skip All

class FileOpsUi
{
public:
    virtual ~FileOpsUi() = default;
    // "File already exist": the target path; closing the question counts as Skip.
    virtual Answer AskOverwrite(const QString &target) = 0;
    // "File Deleting": a read-only file; closing the question counts as Skip.
    virtual Answer AskDeleteReadOnly(const QString &path) = 0;
    // "Can not copy file to itself".
    virtual void CopyToItself() = 0;
    // A system error, with the file it concerns.
    virtual void ShowError(const QString &path, int error) = 0;
    // Whether deleted and replaced files go to the desktop's trash instead of being gone for good.
    virtual bool UseTrash() { return false; }
};

Outcome CopyOneFile(const QString &source, const QString &target, bool ask, FileOpsUi &ui);
// A move: rename, or across file systems a complete copy and then the source deleted.
Outcome MoveOneFile(const QString &source, const QString &target, bool ask, FileOpsUi &ui);
Outcome DeleteOneFile(const QString &path, bool ask, FileOpsUi &ui);

} // namespace fileops
