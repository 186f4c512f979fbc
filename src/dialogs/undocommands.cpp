#include "dialogs/undocommands.h"

#include "dialogs/prompter.h"
#include "dialogs/reportcommands.h"
#include "journal/journal.h"
#include "journal/undo.h"
#include "library/tracklistmodel.h"
#include "tags/tagfile.h"
#include "tracklist/rightview.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <memory>

namespace undocommands {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("undocommands", text); }

Next Describe(qint64 id)
{
    Next next;
    if (id == 0)
        return next;
    for (const journal::EntryInfo &entry : journal::ListEntries()) {
        if (entry.id == id) {
            next.id = id;
            next.command = entry.command;
            next.files = entry.files;
        }
    }
    return next;
}

// The rows follow what the files hold now: tags read again, names given back (a file back in the listed folder
// gets its row again, one that left it loses it).
void RefreshRows(CRightView &view, const journal::Outcome &outcome, QWidget *parent)
{
    TrackListModel &model = *view.Model();
    const QString folder = view.CurrentFolder().endsWith(QLatin1Char('/')) ? view.CurrentFolder()
                                                                            : view.CurrentFolder() + QLatin1Char('/');
    // By file, not by row: the filter may hide the rows of the files undone.
    for (const auto &[from, to] : outcome.renamed) {
        TrackRecord moved;
        SplitFullPath(to, moved);
        TrackRecord old;
        SplitFullPath(from, old);
        if (old[Column::Path] == moved[Column::Path] &&
            model.SetFilenameOfFile(from, moved[Column::Filename], moved[Column::Ext]))
            continue;
        model.RemoveFile(from);
        if (moved[Column::Path] == folder)
            view.AddFile(to);
    }
    for (const QString &path : outcome.removed)
        model.RemoveFile(path);
    for (const QString &path : outcome.added) {
        if (path.left(path.lastIndexOf(QLatin1Char('/')) + 1) == folder)
            view.AddFile(path);
    }
    // The tags are read again off this thread (the window keeps painting and shows how far it has come), then
    // every row changes at once.
    QStringList listed;
    for (const QString &path : outcome.retagged) {
        if (model.IsListed(path))
            listed.append(path);
    }
    if (listed.isEmpty())
        return;
    std::vector<std::pair<QString, TagFile>> read(std::size_t(listed.size()));
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    reportcommands::RunWithProgress(parent, int(listed.size()), done, cancel, [&] {
        for (qsizetype i = 0; i < listed.size() && !cancel.load(); ++i) {
            read[std::size_t(i)].first = listed[i];
            read[std::size_t(i)].second.Open(listed[i]);
            done.store(int(i + 1));
        }
    });
    read.resize(std::size_t(done.load()));   // a Cancel leaves the rows not reached as they were
    model.FillTagCellsOfFiles(read);
}

void Run(CRightView &view, QWidget *parent, bool redo)
{
    // The files are put back on another thread while this one shows how far it has come and keeps painting;
    // the total is known once the entry is read, so the bar counts the files from then on.
    std::atomic<int> done{0}, total{0};
    std::atomic<bool> cancel{false};
    journal::Outcome outcome;
    const journal::Progress step = [&](int index, int count) {
        total.store(count);
        done.store(index);
        return !cancel.load();
    };
    reportcommands::RunWithProgress(parent, 0, done, cancel, [&] {
        outcome = redo ? journal::Redo(journal::DefaultFolder(), step) : journal::Undo(journal::DefaultFolder(), 0, step);
    }, &total);
    if (!outcome.found) {
        Prompter::Current().Tell(parent, outcome.error, QMessageBox::Information);
        return;
    }
    RefreshRows(view, outcome, parent);
    if (!outcome.journalError.isEmpty())
        Prompter::Current().Tell(parent, tr("The undo journal cannot be written (%1); this cannot be taken back.")
                                             .arg(outcome.journalError));
    TellFailures(parent,
                 QCoreApplication::translate("undocommands", "%n file(s) were left as they are:", nullptr,
                                             int(outcome.skipped.size())),
                 outcome.skipped);
    if (outcome.damaged > 0 || outcome.cutShort)
        Prompter::Current().Tell(parent, tr("The journal's record of \"%1\" is damaged: %2 of its changes%3 could not be "
                                            "read and stay as they are.")
                                             .arg(outcome.command)
                                             .arg(outcome.damaged)
                                             .arg(outcome.cutShort ? tr(" and the end of it") : QString()));
    if (outcome.incomplete)
        Prompter::Current().Tell(parent, tr("The journal stopped taking the records of \"%1\" while it ran: the files "
                                            "it changed after that stay as they are.").arg(outcome.command));
    if (outcome.cancelled)
        Prompter::Current().Tell(parent,
                                 QCoreApplication::translate("undocommands",
                                                             "Stopped: %n file(s) were not reached and stay as they are; "
                                                             "Undo again takes them back.",
                                                             nullptr, outcome.notReached),
                                 QMessageBox::Information);
}

} // namespace

Next NextUndo() { return Describe(journal::NextUndo()); }

Next NextRedo() { return Describe(journal::NextRedo()); }

void Undo(CRightView &view, QWidget *parent) { Run(view, parent, false); }

void Redo(CRightView &view, QWidget *parent) { Run(view, parent, true); }

namespace {

QString SeenKey(const journal::EntryInfo &entry)
{
    return QString::number(entry.id) + QLatin1Char(' ') + QString::number(entry.time.toMSecsSinceEpoch());
}

} // namespace

OutsideCommands::OutsideCommands()
{
    for (const journal::EntryInfo &entry : journal::ListEntries())
        m_seen.insert(SeenKey(entry));
}

bool OutsideCommands::Follow(CRightView &view)
{
    const QString folder = journal::DefaultFolder();
    bool running = false;
    QList<journal::EntryInfo> entries = journal::ListEntries(folder);
    std::reverse(entries.begin(), entries.end());   // oldest first: a later command acts on what an earlier left
    for (const journal::EntryInfo &entry : entries) {
        const QString key = SeenKey(entry);
        if (m_seen.contains(key))
            continue;
        if (entry.running) {
            running = true;
            continue;
        }
        m_seen.insert(key);
        if (journal::MadeHere(folder, entry.id))
            continue;
        const journal::Outcome changes = journal::ChangesOf(folder, entry.id);
        if (changes.found)
            RefreshRows(view, changes, view.window());
    }
    return running;
}

struct Scope::Private
{
    journal::Recorder recorder;
    QString command;
    QWidget *parent = nullptr;
};

Scope::Scope(const QString &command, QWidget *parent) : d(new Private)
{
    d->command = command;
    d->parent = parent;
    if (!d->recorder.Begin(command))
        Prompter::Current().Tell(parent, tr("The undo journal cannot be written (%1); \"%2\" cannot be undone.")
                                             .arg(d->recorder.Error(), command));
}

Scope::~Scope()
{
    // A journal that stopped taking records midway (a full disk) is told once, when the command is over: the
    // rest of it was written without the journal (never in place) and cannot be undone.
    d->recorder.End();
    if (d->recorder.FailedMidway())
        Prompter::Current().Tell(d->parent, tr("The undo journal stopped taking records (%1): \"%2\" changed %3 "
                                               "file(s) and can no longer be undone whole; %4 of them cannot be undone.")
                                                .arg(d->recorder.Error(), d->command)
                                                .arg(d->recorder.ChangedFiles())
                                                .arg(d->recorder.Unrecorded()));
    delete d;
}

} // namespace undocommands
