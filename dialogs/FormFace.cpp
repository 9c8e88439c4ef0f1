#include "FormFace.h"

#include <QPalette>
#include <QWidget>

bool IsDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightnessF() <
           palette.color(QPalette::WindowText).lightnessF();
}

QColor FormFace(const QPalette& palette)
{
    return IsDarkPalette(palette) ? palette.color(QPalette::Window) : FormFaceColor;
}

QColor CaptionBlue(const QPalette& palette)
{
    return IsDarkPalette(palette) ? QColor(130, 170, 255) : QColor(Qt::blue);
}

void PaintFormFace(QWidget* form)
{
    QPalette pal = form->palette();
    pal.setColor(QPalette::Window, FormFace(pal));
    form->setPalette(pal);
    form->setAutoFillBackground(true);
}
