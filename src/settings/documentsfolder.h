#pragma once

#include <QString>

// The user's top folder as the folder tree shows it (the home folder "Home" on Linux, Documents on Windows): a
// top-level item with a label. Tree-form paths start with that label; file-system paths start with the folder's
// real path.
class DocumentsFolder
{
public:
    DocumentsFolder() = default;
    // `folderPath` without a trailing separator; an empty path means the user has no such folder. Without a
    // label the item is labelled with the folder's own name.
    explicit DocumentsFolder(const QString &folderPath, const QString &label = QString());

    // The top folder of this user, when it exists as a folder.
    static DocumentsFolder FromSystem();
    // The process-wide value, computed once at start-up; tests may replace it.
    static const DocumentsFolder &Current();
    static void SetCurrent(const DocumentsFolder &folder);

    bool IsValid() const { return !m_path.isEmpty(); }
    QString Path() const { return m_path; }   // "/home/ann"
    QString Name() const { return m_name; }   // "Home"

    // "Home/Music" -> "/home/ann/Music"; other paths unchanged.
    QString ToFileSystem(const QString &treePath) const;
    // "/home/ann/Music/" -> "Home/Music/"; other paths unchanged.
    QString ToTreeForm(const QString &folder) const;

private:
    QString m_path;
    QString m_name;
};
