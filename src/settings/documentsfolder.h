#pragma once

#include <QString>

// The user's documents folder as the folder tree shows it: a top-level item labelled with the folder's own
// name. Tree-form paths start with that label; file-system paths start with the folder's real path.
class DocumentsFolder
{
public:
    DocumentsFolder() = default;
    // `folderPath` without a trailing separator; an empty path means the user has no documents folder.
    explicit DocumentsFolder(const QString &folderPath);

    // The documents folder of this user, when it exists as a folder.
    static DocumentsFolder FromSystem();
    // The process-wide value, computed once at start-up; tests may replace it.
    static const DocumentsFolder &Current();
    static void SetCurrent(const DocumentsFolder &folder);

    bool IsValid() const { return !m_path.isEmpty(); }
    QString Path() const { return m_path; }   // "/home/ann/Documents"
    QString Name() const { return m_name; }   // "Documents"

    // "Documents/Music" -> "/home/ann/Documents/Music"; other paths unchanged.
    QString ToFileSystem(const QString &treePath) const;
    // "/home/ann/Documents/Music/" -> "Documents/Music/"; other paths unchanged.
    QString ToTreeForm(const QString &folder) const;

private:
    QString m_path;
    QString m_name;
};
