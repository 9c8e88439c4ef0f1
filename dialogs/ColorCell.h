#pragma once

#include "ColorFormats.h"

#include <QColor>
#include <QWidget>

// The desktop's colour for a Windows system-colour index, so that a cell loaded with a system
// colour is painted in the desktop's matching colour.
QColor SystemColor(int index);

// One numbered palette cell: a rounded swatch that reports mouse presses to the picker.
class ColorCell : public QWidget
{
    Q_OBJECT
public:
    ColorCell(int tag, QWidget* parent);

    int Tag() const { return m_tag; }
    ColorValue color() const { return m_color; }
    void setColor(ColorValue color);

Q_SIGNALS:
    void mouseDown(ColorCell* cell, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int m_tag;
    ColorValue m_color = 0x00FFFFFF;
};
