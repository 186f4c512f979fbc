#include "cli/progressmeter.h"

#include "platform/fileio.h"

#include <QLocale>

#include <cstdio>

namespace {

ProgressMeter *g_current = nullptr;
// Shorter work shows nothing. TUNEGROVE_PROGRESS_AFTER_MS sets another wait (tests draw at once with 0).
qint64 QuietMs()
{
    bool ok = false;
    const qint64 set = qEnvironmentVariable("TUNEGROVE_PROGRESS_AFTER_MS").toLongLong(&ok);
    return ok && set >= 0 ? set : 1000;
}
constexpr qint64 kRedrawMs = 200;

} // namespace

ProgressMeter::ProgressMeter(QString what, qint64 total)
    : m_what(std::move(what)), m_total(total), m_enabled(platform::StandardErrorIsTerminal()), m_outer(g_current)
{
    m_clock.start();
    m_quietMs = m_enabled ? QuietMs() : 0;
    g_current = this;
}

ProgressMeter::~ProgressMeter()
{
    Clear();
    g_current = m_outer;
}

void ProgressMeter::ClearCurrent()
{
    if (g_current)
        g_current->Clear();
}

void ProgressMeter::Step(qint64 done)
{
    if (!m_enabled)
        return;
    const qint64 now = m_clock.elapsed();
    if (now < m_quietMs || (m_drawnAt >= 0 && now - m_drawnAt < kRedrawMs))
        return;
    const QLocale locale;
    const QString line = m_total > 0 ? QStringLiteral("%1: %2 of %3 files").arg(m_what, locale.toString(done), locale.toString(m_total))
                                     : QStringLiteral("%1: %2 files").arg(m_what, locale.toString(done));
    // Back to the line's start, the text, the rest of the line wiped.
    std::fputs(("\r" + line + QStringLiteral("\033[K")).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    m_drawnAt = now;
}

void ProgressMeter::Clear()
{
    if (m_drawnAt < 0)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_drawnAt = -1;
}
