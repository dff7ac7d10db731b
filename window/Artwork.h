#pragma once
// The program's own pictures, drawn at start-up: the six category icons, the
// online/offline status pictures, the users/no-users pictures, the tray
// icons and the 396 x 32 banner.

#include <QIcon>
#include <QPixmap>

namespace kv::ui::art {

// Category icons in navigation order (0 Account .. 5 Help), 32 x 32.
QPixmap categoryIcon(int index);
QPixmap statusPicture(bool online); // imgOn / imgOff, 16 x 16
QPixmap usersPicture(bool anyone);  // imgUsers / imgNoUsers, 16 x 16
QIcon trayIcon(bool online);        // Form3 / Form2 icons
QIcon programIcon();
// The program icon drawn at any size, for the desktop theme's PNG files.
QPixmap programPicture(int size);
QPixmap banner(); // 396 x 32
QIcon startIcon();
QIcon stopIcon();

} // namespace kv::ui::art
