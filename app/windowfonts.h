#pragma once

class QWidget;

// The window was laid out for "MS Sans Serif" at 96 dpi: 8, 10 and 14 point, which are
// character heights of 11, 13 and 19 pixels. Debian's fonts-wine ships that face as bitmap
// strikes with 13, 16 and 20-pixel cells; fontconfig hides bitmap faces, so it is loaded
// here by hand. Without it DejaVu Sans stands in at the same character heights.
namespace WindowFonts {

// Sets every font of the window description to its pixel size in the face found.
void apply(QWidget *root);

// The family in use after apply(): "MS Sans Serif" or "DejaVu Sans".
const char *family();

} // namespace WindowFonts
