#include "settings/documentsfolder.h"

#include "platform/userfolders.h"

#include <QDir>
#include <QFileInfo>

namespace {

DocumentsFolder &CurrentStorage()
{
    static DocumentsFolder current = DocumentsFolder::FromSystem();
    return current;
}

// True when `path` is `prefix` itself or lies below it.
bool StartsWithFolder(const QString &path, const QString &prefix)
{
    return path.startsWith(prefix) && (path.size() == prefix.size() || path[prefix.size()] == QLatin1Char('/') ||
                                       prefix.endsWith(QLatin1Char('/')));
}

} // namespace

DocumentsFolder::DocumentsFolder(const QString &folderPath, const QString &label)
{
    QString clean = QDir::cleanPath(QDir::fromNativeSeparators(folderPath));
    if (clean.isEmpty() || clean == QLatin1String("."))
        return;
    m_path = clean;
    m_name = label.isEmpty() ? QFileInfo(clean).fileName() : label;
    if (m_name.isEmpty())
        m_name = clean;
}

DocumentsFolder DocumentsFolder::FromSystem()
{
    const platform::TopFolder top = platform::UserTopFolder();
    return top.path.isEmpty() ? DocumentsFolder() : DocumentsFolder(top.path, top.label);
}

const DocumentsFolder &DocumentsFolder::Current() { return CurrentStorage(); }

void DocumentsFolder::SetCurrent(const DocumentsFolder &folder) { CurrentStorage() = folder; }

QString DocumentsFolder::ToFileSystem(const QString &treePath) const
{
    if (!IsValid() || !StartsWithFolder(treePath, m_name))
        return treePath;
    return m_path + treePath.mid(m_name.size());
}

QString DocumentsFolder::ToTreeForm(const QString &folder) const
{
    if (!IsValid() || !StartsWithFolder(folder, m_path))
        return folder;
    return m_name + folder.mid(m_path.size());
}
