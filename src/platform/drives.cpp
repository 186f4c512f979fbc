#include "platform/drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace platform {

namespace {

bool IsUnder(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

bool IsSystemMount(const QString &root)
{
    if (IsUnder(root, QStringLiteral("/run/media")))
        return false;
    for (const char *folder : {"/boot", "/proc", "/sys", "/dev", "/run", "/snap", "/var/lib"}) {
        if (IsUnder(root, QLatin1String(folder)))
            return true;
    }
    return false;
}

bool IsUserMountPoint(const QString &root)
{
    return IsUnder(root, QStringLiteral("/media")) || IsUnder(root, QStringLiteral("/run/media")) ||
           IsUnder(root, QStringLiteral("/mnt"));
}

bool IsNetworkFs(const QString &fs)
{
    static const QStringList kNetwork{QStringLiteral("nfs"),   QStringLiteral("nfs4"),       QStringLiteral("cifs"),
                                      QStringLiteral("smb3"),  QStringLiteral("smbfs"),      QStringLiteral("sshfs"),
                                      QStringLiteral("fuse.sshfs"), QStringLiteral("9p"),    QStringLiteral("afs"),
                                      QStringLiteral("ceph"),  QStringLiteral("glusterfs"),  QStringLiteral("fuse.glusterfs"),
                                      QStringLiteral("davfs"), QStringLiteral("fuse.rclone")};
    return kNetwork.contains(fs);
}

QString ReadFirstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readLine()).trimmed();
}

} // namespace

std::optional<Drive> ClassifyMount(const QString &root, const QString &device, const QString &fsType,
                                   const QString &sysRoot)
{
    Drive drive{root, device, fsType, DriveKind::Fixed};
    if (root == QLatin1String("/"))
        return drive;
    if (IsSystemMount(root))
        return std::nullopt;
    if (IsNetworkFs(fsType)) {
        drive.kind = DriveKind::Network;
        return drive;
    }
    static const QStringList kHidden{QStringLiteral("tmpfs"), QStringLiteral("overlay"), QStringLiteral("squashfs"),
                                     QStringLiteral("autofs"), QStringLiteral("fuse.portal"), QStringLiteral("devtmpfs"),
                                     QStringLiteral("ramfs")};
    if (kHidden.contains(fsType) || !device.startsWith(QLatin1String("/dev/")))
        return std::nullopt;

    QString name = QFileInfo(device).fileName();
    if (name.startsWith(QLatin1String("loop")) && !IsUserMountPoint(root))
        return std::nullopt;

    // The kernel's view of the device: a partition's folder lies inside its disk's folder.
    const QString sysPath = QFileInfo(sysRoot + QStringLiteral("/class/block/") + name).canonicalFilePath();
    QString disk = name;
    if (!sysPath.isEmpty() && QFileInfo::exists(sysPath + QStringLiteral("/partition")))
        disk = QFileInfo(QFileInfo(sysPath).absolutePath()).fileName();

    if (fsType == QLatin1String("iso9660") || fsType == QLatin1String("udf") || disk.startsWith(QLatin1String("sr")))
        drive.kind = DriveKind::CdRom;
    else if (ReadFirstLine(sysRoot + QStringLiteral("/block/") + disk + QStringLiteral("/removable")) == QLatin1String("1") ||
             sysPath.contains(QLatin1String("/usb")) || disk.startsWith(QLatin1String("mmcblk")))
        drive.kind = DriveKind::Removable;
    return drive;
}

void SortDrives(std::vector<Drive> &drives)
{
    std::sort(drives.begin(), drives.end(), [](const Drive &a, const Drive &b) {
        const bool aRoot = a.root == QLatin1String("/");
        const bool bRoot = b.root == QLatin1String("/");
        if (aRoot != bRoot)
            return aRoot;
        return a.root < b.root;
    });
}

std::vector<Drive> ListDrives(const QString &sysRoot)
{
    std::vector<Drive> drives;
    bool haveRoot = false;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (std::any_of(drives.begin(), drives.end(), [&](const Drive &d) { return d.root == root; }))
            continue;   // mounted twice on the same path: the list shows it once
        QString device = QString::fromLocal8Bit(volume.device());
        const QString canonical = QFileInfo(device).canonicalFilePath();   // /dev/disk/by-uuid/... -> /dev/sda1
        if (!canonical.isEmpty() && device.startsWith(QLatin1String("/dev/")))
            device = canonical;
        if (auto drive = ClassifyMount(root, device, QString::fromLatin1(volume.fileSystemType()), sysRoot)) {
            haveRoot = haveRoot || root == QLatin1String("/");
            drives.push_back(*drive);
        }
    }
    if (!haveRoot)
        drives.push_back(Drive{QStringLiteral("/"), QString(), QString(), DriveKind::Fixed});
    SortDrives(drives);
    return drives;
}

} // namespace platform
