#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace platform {

enum class DriveKind { Fixed, Removable, CdRom, Network };

// A mounted file system a user thinks of as a drive; its label is its mount path.
struct Drive
{
    QString root;      // "/", "/home", "/media/ann/STICK"
    QString device;    // "/dev/sda1", "server:/music"
    QString fsType;
    DriveKind kind = DriveKind::Fixed;
};

// The drives of this machine: "/" first, then the others by mount path. `sysRoot` is where the kernel's device
// tree is mounted; tests point it at a fake one.
std::vector<Drive> ListDrives(const QString &sysRoot = QStringLiteral("/sys"));

// Decides whether one mount is a drive, and of which kind; empty when it is not one to show.
std::optional<Drive> ClassifyMount(const QString &root, const QString &device, const QString &fsType,
                                   const QString &sysRoot);

// Sorts drives: "/" first, then by mount path.
void SortDrives(std::vector<Drive> &drives);

} // namespace platform
