#pragma once

#include <QString>
#include <QUrl>

// The desktop around the program: opening documents and web pages, and where the program's help lives.
namespace platform {

// Hands a file or web address to the desktop's default program; false when nothing took it.
bool OpenWithDesktop(const QUrl &url);
// Why the desktop has no program for a file or web address (its type or its scheme has no default handler);
// empty when it has one, or when the desktop cannot be asked.
QString WhyDesktopCannotOpen(const QUrl &url);
// The program's own HTML help, shipped beside it; empty when it is missing.
QString HelpFilePath();
// Why no window can be shown (no display to connect to: neither DISPLAY nor WAYLAND_DISPLAY is set for the
// X11 or Wayland platform), or empty. Asked before the application is made, which would abort without one.
QString NoDisplayReason();
// Whether the desktop shows tray icons.
bool TrayAvailable();

// The Player page's wording for the desktop's default player and the Browse dialog's filters.
QString DefaultPlayerCaption();
QString ProgramFilter();

} // namespace platform
