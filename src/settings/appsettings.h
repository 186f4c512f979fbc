#pragma once

#include <QString>

class QSettings;

// The user's preferences: one member per stored value, loaded once at start-up, read directly by whoever needs
// a preference, and saved back as a whole. Values live in the group "Settings" of the settings store.
class AppSettings
{
public:
    int cdrom = 0;              // flag: CD-ROM drives appear in the tree and the computer scan
    int grid = 0;               // flag: the track list draws grid lines
    int removable = 0;          // flag: removable drives appear in the tree and the computer scan
    int useDefaultPlayer = 0;   // flag: play through the program associated with MP3 files
    int dblClickEdit = 0;       // flag: double click edits the tag (1) or plays (0)
    int sysTrayIco = 0;         // 1 = tray icon; closing the window hides it. Kept as stored.
    int leftViewWidth = 0;      // width of the folder pane in pixels
    QString pathToPlayer;
    QString encoding;           // character set named in HTML and XML reports
    QString columnWidths;       // "120,35,0," — one entry per column
    QString columnVisible;      // "1,1,0,"
    int aviExt = 0;
    int allExt = 0;
    int midExt = 0;
    int mp3Ext = 0;
    int mpgExt = 0;
    int wavExt = 0;
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
    int maxWindow = 0;
    QString treePath;           // the last folder listed, in tree form
    int useTrash = 0;
    int otherAudio = 1;         // flag: FLAC, Ogg Vorbis, Opus and M4A files are listed, with their tags           // flag: deleted and replaced files go to the desktop's trash (and can be undone)

    static constexpr const char *kSection = "Settings";

    void Load(QSettings &store);
    void Save(QSettings &store) const;

    // Stores the list's folder in tree form: a leading documents folder path becomes the folder's name.
    void SetTreePath(const QString &folder);
    QString TreePath() const { return treePath; }
    bool treePathStored = false;   // whether the store held a "TreePath" at all (false at a first start)

    // The values in load order as "Name=value" lines' parts, for display and tests.
    QList<QPair<QString, QString>> Values() const;

    // The process-wide block.
    static AppSettings &Instance();
};

// The integer the store holds for `key`, or `fallback` when it is absent or not a number.
int ReadStoredInt(const QSettings &store, const QString &key, int fallback);
QString ReadStoredText(const QSettings &store, const QString &key);
