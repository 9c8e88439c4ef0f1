#pragma once

#include <QColor>

class QPalette;
class QWidget;

// The face colour every Nimbril form is painted in on a light theme.
inline const QColor FormFaceColor{244, 244, 240};

// Whether the palette is a dark theme's: light text on a dark window.
bool IsDarkPalette(const QPalette& palette);

// The face colour of a form under this palette: the pale face on a light theme; on a dark one
// the theme's own window colour, as the theme's light text would not read on the pale face.
QColor FormFace(const QPalette& palette);

// The blue of captions, light enough on a dark theme to be read.
QColor CaptionBlue(const QPalette& palette);

// Paints a form's background in its face colour.
void PaintFormFace(QWidget* form);
