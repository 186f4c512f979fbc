#pragma once

// What every command of tunegrove-cli writes and reads with: output and messages, exit codes, the settings.

#include "cli/clioptions.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <cstdio>
#include <memory>

namespace cli {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

extern int g_outputError;     // the first error writing standard output
extern QString g_commandName; // the command running, for its progress line

// Writes bytes to a stream (a failure on standard output is kept in g_outputError); the progress line goes first.
void Write(FILE *stream, const QByteArray &bytes);
// Output is UTF-8, except that file names that are not UTF-8 come out as the bytes they are on disk.
void Print(FILE *stream, const QString &text);
// "tunegrove-cli: TEXT" on standard error.
void Complain(const QString &text);
// A usage error told, with the hint to --help; returns kExitUsage.
int UsageError(const QString &text);
// The stored preferences: --settings-file, or the user's own.
std::unique_ptr<QSettings> OpenSettings(const CliArguments &args);

} // namespace cli
