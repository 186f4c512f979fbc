#pragma once

class AppSettings;
class CRightView;
class QWidget;

// Play: the selected rows as a playlist in the user's runtime folder, handed to the configured player, the
// desktop's player for playlists, or the desktop itself.
namespace reportcommands {

void Play(CRightView &view, AppSettings &settings, QWidget *parent);

} // namespace reportcommands
