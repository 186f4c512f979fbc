#include "platform/drives.h"

#include <QtTest>

using platform::ClassifyMount;
using platform::DriveKind;

class TestDrives : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void classify_data();
    void classify();
    void order();
    void realMachineHasRoot();

private:
    QTemporaryDir m_sys;
};

void TestDrives::initTestCase()
{
    // A fake kernel device tree: sda (fixed), sdb on USB, mmcblk0, sr0.
    const QString s = m_sys.path();
    auto makeDisk = [&](const QString &devPath, const QString &disk, const QString &part, const char *removable) {
        QDir().mkpath(s + devPath + QLatin1Char('/') + disk + QLatin1Char('/') + part);
        QFile f(s + devPath + QLatin1Char('/') + disk + QLatin1Char('/') + part + QStringLiteral("/partition"));
        f.open(QIODevice::WriteOnly);
        QDir().mkpath(s + QStringLiteral("/block/") + disk);
        QFile r(s + QStringLiteral("/block/") + disk + QStringLiteral("/removable"));
        r.open(QIODevice::WriteOnly);
        r.write(removable);
        QDir().mkpath(s + QStringLiteral("/class/block"));
        QFile::link(s + devPath + QLatin1Char('/') + disk + QLatin1Char('/') + part, s + QStringLiteral("/class/block/") + part);
    };
    makeDisk(QStringLiteral("/devices/pci0/ata1/block"), QStringLiteral("sda"), QStringLiteral("sda1"), "0\n");
    makeDisk(QStringLiteral("/devices/pci0/usb1/1-1/block"), QStringLiteral("sdb"), QStringLiteral("sdb1"), "0\n");
    makeDisk(QStringLiteral("/devices/pci0/mmc/block"), QStringLiteral("mmcblk0"), QStringLiteral("mmcblk0p1"), "0\n");
    makeDisk(QStringLiteral("/devices/pci0/ata2/block"), QStringLiteral("sdc"), QStringLiteral("sdc1"), "1\n");
}

void TestDrives::classify_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("fs");
    QTest::addColumn<int>("kind");   // -1: not shown
    QTest::newRow("root on overlay") << "/" << "overlay" << "overlay" << int(DriveKind::Fixed);
    QTest::newRow("home") << "/home" << "/dev/sda1" << "ext4" << int(DriveKind::Fixed);
    QTest::newRow("usb stick") << "/media/ann/STICK" << "/dev/sdb1" << "vfat" << int(DriveKind::Removable);
    QTest::newRow("sd card") << "/run/media/ann/SD" << "/dev/mmcblk0p1" << "exfat" << int(DriveKind::Removable);
    QTest::newRow("removable flag") << "/mnt/x" << "/dev/sdc1" << "ext4" << int(DriveKind::Removable);
    QTest::newRow("cd by fs") << "/media/cd" << "/dev/sr0" << "iso9660" << int(DriveKind::CdRom);
    QTest::newRow("nfs") << "/srv/music" << "nas:/music" << "nfs4" << int(DriveKind::Network);
    QTest::newRow("boot") << "/boot/efi" << "/dev/sda2" << "vfat" << -1;
    QTest::newRow("proc") << "/proc" << "proc" << "proc" << -1;
    QTest::newRow("run") << "/run/user/1000" << "tmpfs" << "tmpfs" << -1;
    QTest::newRow("tmpfs") << "/tmp" << "tmpfs" << "tmpfs" << -1;
    QTest::newRow("snap loop") << "/snap/core/1" << "/dev/loop3" << "squashfs" << -1;
    QTest::newRow("loop elsewhere") << "/opt/img" << "/dev/loop4" << "ext4" << -1;
    QTest::newRow("loop in media") << "/media/img" << "/dev/loop5" << "ext4" << int(DriveKind::Fixed);
}

void TestDrives::classify()
{
    QFETCH(QString, root);
    QFETCH(QString, device);
    QFETCH(QString, fs);
    QFETCH(int, kind);
    const auto drive = ClassifyMount(root, device, fs, m_sys.path());
    QCOMPARE(drive.has_value(), kind >= 0);
    if (drive)
        QCOMPARE(int(drive->kind), kind);
}

void TestDrives::order()
{
    std::vector<platform::Drive> drives{{"/media/b", "", "", DriveKind::Fixed},
                                        {"/home", "", "", DriveKind::Fixed},
                                        {"/", "", "", DriveKind::Fixed}};
    platform::SortDrives(drives);
    QCOMPARE(drives[0].root, QStringLiteral("/"));
    QCOMPARE(drives[1].root, QStringLiteral("/home"));
    QCOMPARE(drives[2].root, QStringLiteral("/media/b"));
}

void TestDrives::realMachineHasRoot()
{
    const auto drives = platform::ListDrives();
    QVERIFY(!drives.empty());
    QCOMPARE(drives.front().root, QStringLiteral("/"));
}

QTEST_GUILESS_MAIN(TestDrives)
#include "tst_drives.moc"
