// The program's icon and logo, drawn from the SVG files in resources/.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace trelvo::ui {

// The icon at the sizes window managers and task bars ask for.
QIcon program_icon();

// The logo at its own size (in device-independent pixels) for a screen with
// `device_pixel_ratio` physical pixels per pixel.
QPixmap logo_pixmap(qreal device_pixel_ratio);

}  // namespace trelvo::ui
