#pragma once

#include <QString>

// Renames a file, never replacing an existing one: a new name that is taken fails. In the new file name (never
// its folder) * ? : \ become "_". Returns 0 or an errno value; EEXIST when the name is taken.
int RenameFile(const QString &oldPath, const QString &newPath);
// The path RenameFile gives a file asked to take `newPath`: its file name made safe (SafeFileName).
QString RenameTarget(const QString &newPath);

// A name typed, pasted or dropped for a file, made safe to rename to: * ? : / \ become "_", so the name can never
// leave its folder.
QString SafeFileName(const QString &name);

// Whether a rename error is one the user is told about as "Can`t Rename File!": no access, a read-only medium,
// or a name that is taken. Other failures (an invalid name) are silent.
bool IsAccessDenied(int error);
