#include "FormFace.h"

#include <QPalette>
#include <QWidget>

void PaintFormFace(QWidget* form)
{
    QPalette pal = form->palette();
    pal.setColor(QPalette::Window, FormFaceColor);
    form->setPalette(pal);
    form->setAutoFillBackground(true);
}
