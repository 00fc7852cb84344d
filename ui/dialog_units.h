// Dialog units: the window templates give positions and sizes in fractions of the window
// font's characters, so that a window keeps its proportions at any font. An x unit is a
// quarter of the average character width, a y unit an eighth of the character height.
#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>

namespace trelvo::ui {

// The font's average character width (over the Latin alphabet, rounded) and character
// height, in pixels.
struct DialogBaseUnits {
    int width = 0;
    int height = 0;
};

DialogBaseUnits dialog_base_units(const QFont& font);

// `units` (in dialog units) in pixels: x and width * width / 4, y and height * height / 8,
// each rounded.
QRect to_pixels(const QRect& units, DialogBaseUnits base);

// Turns a form built from a template in dialog units into pixels at the form's font: the
// form's size (fixed: the windows do not resize) and the geometry of every direct child.
// A drop-down list keeps the height of its closed box; the template's height (that of the
// box with its list open) decides how many entries the open list shows. Check boxes and
// texts are widened where their caption would be cut off at this font, and a frame around
// controls grows with them.
void convert_template_geometry(QWidget& form);

}  // namespace trelvo::ui
