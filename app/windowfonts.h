#pragma once

class QWidget;

// The window was laid out for "MS Sans Serif" at 96 dpi: 8, 10 and 14 point, which are
// character heights of 11, 13 and 19 pixels. Debian's fonts-wine ships that face as a bitmap
// font, and Qt reaches only its strike for 11-pixel characters, with no bold. So the bitmap face
// draws the plain window font where the screen is not scaled, and every other text takes an
// outline face whose glyphs grow with the scale: Tahoma from the same package for regular
// text, DejaVu Sans Bold (fonts-dejavu-core) for the bold headings. fontconfig hides bitmap
// faces and fonts-wine keeps its fonts out of fontconfig's path, so those two are loaded here by
// hand. Without fonts-wine DejaVu Sans stands in for the regular text too.
namespace WindowFonts {

// Gives every font of the window description the face and size that draw it on root's screen,
// and again whenever the window comes onto a screen with another scale factor.
void apply(QWidget *root);

} // namespace WindowFonts
