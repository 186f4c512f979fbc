#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, drawn in code so they stay crisp and need no image files: toolbar buttons
// (36 by 32, in normal, hot and disabled state), the status-bar icons, the tray and window icon, and the About
// picture.
namespace artwork {

enum class ToolbarImage { Play, Edit, Hide, Options, Print, About, Website };
enum class ImageState { Normal, Hot, Disabled };

QPixmap Toolbar(ToolbarImage image, ImageState state);
// All three states in one icon, for a tool button.
QIcon ToolbarIcon(ToolbarImage image);

QPixmap SubdirIcon(bool on);    // 16 by 16
QPixmap AddListIcon(bool on);   // 16 by 16
QIcon AppIcon();
QPixmap AboutPicture();         // 48 by 48

} // namespace artwork
