#include "cli/clicommon.h"

#include "cli/progressmeter.h"
#include "platform/fileio.h"
#include "platform/names.h"

#include <cerrno>

namespace cli {

int g_outputError = 0;
QString g_commandName;

void Write(FILE *stream, const QByteArray &bytes)
{
    ProgressMeter::ClearCurrent();   // output and messages never land inside the progress line
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) != size_t(bytes.size()) && stream == stdout &&
        g_outputError == 0)
        g_outputError = errno ? errno : EIO;
}

void Print(FILE *stream, const QString &text) { Write(stream, platform::EncodeName(text)); }

void Complain(const QString &text) { Print(stderr, QStringLiteral("tunegrove-cli: %1\n").arg(text)); }

int UsageError(const QString &text)
{
    Complain(text);
    Print(stderr, QStringLiteral("Try 'tunegrove-cli --help'.\n"));
    return kExitUsage;
}

std::unique_ptr<QSettings> OpenSettings(const CliArguments &args)
{
    std::unique_ptr<QSettings> store;
    if (args.values.contains(QStringLiteral("settings-file"))) {
        const QString path = args.values.value(QStringLiteral("settings-file"));
        platform::FileStatus status;
        if (platform::Stat(path, status) != 0)
            Complain(QStringLiteral("%1: no such settings file; the defaults are used").arg(path));
        store = std::make_unique<QSettings>(path, QSettings::IniFormat);
    }
    else
        store = std::make_unique<QSettings>(QStringLiteral("Kestrine"), QStringLiteral("Tunegrove"));
    store->setFallbacksEnabled(false);
    return store;
}

} // namespace cli
