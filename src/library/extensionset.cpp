#include "library/extensionset.h"

#include "settings/appsettings.h"

void ExtensionSet::Build(const AppSettings &settings)
{
    m_entries.clear();
    if (settings.allExt) {
        m_entries = QStringList{QStringLiteral("mpeg"), QStringLiteral("mpg"), QStringLiteral("mp3"), QStringLiteral("mp2"),
                                QStringLiteral("mp1"),  QStringLiteral("wav"), QStringLiteral("snd"), QStringLiteral("au"),
                                QStringLiteral("avi"),  QStringLiteral("wmv"), QStringLiteral("wma"), QStringLiteral("cda"),
                                QStringLiteral("mid"),  QStringLiteral("nmi"), QStringLiteral("midi")};
    } else {
        if (settings.aviExt) m_entries.append(QStringLiteral("avi"));
        if (settings.midExt) m_entries.append(QStringLiteral("mid"));
        if (settings.mp3Ext) m_entries.append(QStringLiteral("mp3"));
        if (settings.mpgExt) m_entries.append(QStringLiteral("mpg"));
        if (settings.wavExt) m_entries.append(QStringLiteral("wav"));
    }
    // Audio with tags of its own, after the others.
    if (settings.otherAudio)
        m_entries << QStringLiteral("flac") << QStringLiteral("ogg") << QStringLiteral("oga") << QStringLiteral("opus")
                  << QStringLiteral("m4a");
    if (m_entries.isEmpty())
        m_entries.append(QStringLiteral("mp3"));
}

bool ExtensionSet::IsAccepted(QStringView extension) const
{
    for (const QString &entry : m_entries) {
        if (extension.compare(entry, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
