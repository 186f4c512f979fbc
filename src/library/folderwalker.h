#pragma once

#include "library/extensionset.h"
#include "library/trackrecord.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>

struct ScanState;

// Walks folders and turns each accepted file into a row, skipping files that are already listed.
// Runs on whichever thread calls it (a listing worker, or the command line); it reads the stop flag at every
// directory entry and never touches widgets.
class FolderWalker
{
public:
    using RowSink = std::function<void(TrackRecord &&)>;
    using ErrorSink = std::function<void(const QString &folder, int error)>;

    FolderWalker(ScanState &state, ExtensionSet extensions, RowSink sink);

    // Files already in the list, by FileNameKey of their full path; they are not added again.
    void SetListed(QSet<QByteArray> listed) { m_listed = std::move(listed); }
    // Told of each folder that could not be read (its path and the errno value); without one, such folders
    // simply give no rows.
    void SetErrorSink(ErrorSink sink) { m_errors = std::move(sink); }
    // Keep a recursive walk on the file system it started on (a drive walk must not wander into other mounts).
    void SetStayOnDevice(bool stay) { m_stayOnDevice = stay; }

    // Walks `folder`; with `recurse`, its subfolders too (never through a link to a folder). Returns false when
    // the stop flag ended the walk.
    bool WalkFolder(const QString &folder, bool recurse);
    // Adds one file unless it is listed already; returns whether it was added.
    bool AddFile(const QString &folder, const QString &name);

private:
    bool Walk(const QString &folder, bool recurse, std::uint64_t device);
    void Tick();

    ScanState &m_state;
    ExtensionSet m_extensions;
    RowSink m_sink;
    ErrorSink m_errors;
    QSet<QByteArray> m_listed;
    bool m_stayOnDevice = false;
};
