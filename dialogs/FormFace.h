#pragma once

#include <QColor>

class QWidget;

// The face colour every Nimbril form is painted in.
inline const QColor FormFaceColor{244, 244, 240};

// Paints a form's background in the face colour.
void PaintFormFace(QWidget* form);
