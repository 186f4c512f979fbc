#include "settings/appsettings.h"

#include "settings/documentsfolder.h"

#include <QSettings>
#include <QStringList>

namespace {

int Flag(int value) { return value != 0 ? 1 : 0; }

} // namespace

int ReadStoredInt(const QSettings &store, const QString &key, int fallback)
{
    // An INI file gives numbers back as text in a new process; parse them, so a mistyped value yields the default.
    const QVariant value = store.value(key);
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const long long number = value.toString().trimmed().toLongLong(&ok);
    if (!ok)
        return fallback;
    return int(qint32(quint32(number)));   // stored as a 32-bit value
}

QString ReadStoredText(const QSettings &store, const QString &key)
{
    const QVariant value = store.value(key);
    // "1,1,0," typed by hand without quotes comes back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

AppSettings &AppSettings::Instance()
{
    static AppSettings settings;
    return settings;
}

void AppSettings::Load(QSettings &store)
{
    store.beginGroup(QLatin1String(kSection));
    auto number = [&](const char *key, int fallback) { return ReadStoredInt(store, QLatin1String(key), fallback); };
    auto text = [&](const char *key) { return ReadStoredText(store, QLatin1String(key)); };

    x = number("x", 0);
    y = number("y", 0);
    cx = number("cx", 0);
    cy = number("cy", 0);
    maxWindow = number("MaxWindow", 0);
    leftViewWidth = number("LeftViewWidth", 0);
    if (cx < 30 || cy < 30) {
        x = 25;
        y = 60;
        cx = 600;
        cy = 440;
    }
    cdrom = Flag(number("Cdrom", 1));
    grid = Flag(number("Grid", 1));
    removable = Flag(number("Removable", 0));
    useDefaultPlayer = Flag(number("UseDefaultPlayer", 1));
    dblClickEdit = Flag(number("DblClickEdit", 1));
    sysTrayIco = number("bSysTrayIco", 1);
    aviExt = Flag(number("bAviExt", 1));
    midExt = Flag(number("bMidExt", 0));
    mp3Ext = Flag(number("bMp3Ext", 1));
    mpgExt = Flag(number("bMpgExt", 0));
    wavExt = Flag(number("bWavExt", 1));
    allExt = Flag(number("bAllExt", 0));
    pathToPlayer = text("PathToPlayer");
    treePathStored = store.contains(QStringLiteral("TreePath"));
    treePath = text("TreePath");
    useTrash = Flag(number("UseTrash", 0));
    otherAudio = Flag(number("OtherAudio", 1));   // on unless the user turned it off: a mixed collection shows whole
    columnWidths = text("ColumnWidths");
    columnVisible = text("ColumnVisible");
    if (columnVisible.isEmpty())
        columnVisible = QStringLiteral("1,").repeated(20);
    encoding = text("Encoding");
    if (encoding.isEmpty())
        encoding = QStringLiteral("Windows-1252");
    store.endGroup();
}

void AppSettings::Save(QSettings &store) const
{
    store.beginGroup(QLatin1String(kSection));
    auto put = [&](const char *key, const QVariant &value) { store.setValue(QLatin1String(key), value); };
    put("cx", cx);
    put("cy", cy);
    put("x", x);
    put("y", y);
    put("MaxWindow", maxWindow);
    put("LeftViewWidth", leftViewWidth);
    put("Cdrom", Flag(cdrom));
    put("Grid", Flag(grid));
    put("Removable", Flag(removable));
    put("bAviExt", aviExt);
    put("bAllExt", allExt);
    put("bMidExt", midExt);
    put("bMp3Ext", mp3Ext);
    put("bMpgExt", mpgExt);
    put("bWavExt", wavExt);
    put("UseDefaultPlayer", Flag(useDefaultPlayer));
    put("DblClickEdit", Flag(dblClickEdit));
    put("bSysTrayIco", sysTrayIco);
    put("PathToPlayer", pathToPlayer);
    put("TreePath", treePath);
    put("ColumnWidths", columnWidths);
    put("ColumnVisible", columnVisible);
    put("Encoding", encoding);
    put("UseTrash", Flag(useTrash));
    put("OtherAudio", Flag(otherAudio));
    store.endGroup();
}

void AppSettings::SetTreePath(const QString &folder)
{
    treePath = DocumentsFolder::Current().ToTreeForm(folder);
}

QList<QPair<QString, QString>> AppSettings::Values() const
{
    auto n = [](int v) { return QString::number(v); };
    return {
        {QStringLiteral("Cdrom"), n(cdrom)},
        {QStringLiteral("Grid"), n(grid)},
        {QStringLiteral("Removable"), n(removable)},
        {QStringLiteral("UseDefaultPlayer"), n(useDefaultPlayer)},
        {QStringLiteral("DblClickEdit"), n(dblClickEdit)},
        {QStringLiteral("bSysTrayIco"), n(sysTrayIco)},
        {QStringLiteral("LeftViewWidth"), n(leftViewWidth)},
        {QStringLiteral("PathToPlayer"), pathToPlayer},
        {QStringLiteral("Encoding"), encoding},
        {QStringLiteral("ColumnWidths"), columnWidths},
        {QStringLiteral("ColumnVisible"), columnVisible},
        {QStringLiteral("bAviExt"), n(aviExt)},
        {QStringLiteral("bAllExt"), n(allExt)},
        {QStringLiteral("bMidExt"), n(midExt)},
        {QStringLiteral("bMp3Ext"), n(mp3Ext)},
        {QStringLiteral("bMpgExt"), n(mpgExt)},
        {QStringLiteral("bWavExt"), n(wavExt)},
        {QStringLiteral("x"), n(x)},
        {QStringLiteral("y"), n(y)},
        {QStringLiteral("cx"), n(cx)},
        {QStringLiteral("cy"), n(cy)},
        {QStringLiteral("MaxWindow"), n(maxWindow)},
        {QStringLiteral("TreePath"), treePath},
        {QStringLiteral("UseTrash"), n(useTrash)},
        {QStringLiteral("OtherAudio"), n(otherAudio)},
    };
}
