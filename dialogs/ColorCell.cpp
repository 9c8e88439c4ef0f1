#include "ColorCell.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

QColor SystemColor(int index)
{
    const QPalette pal = QGuiApplication::palette();
    switch (index) {
    case 2:  // active caption
    case 13: // highlight
    case 27: // gradient active caption
    case 29: // menu highlight
        return pal.color(QPalette::Highlight);
    case 9:  // caption text
    case 14: // highlight text
        return pal.color(QPalette::HighlightedText);
    case 5: // window
        return pal.color(QPalette::Base);
    case 7:  // menu text
    case 19: // inactive caption text
        return pal.color(QPalette::WindowText);
    case 8: // window text
        return pal.color(QPalette::Text);
    case 15: // button face
        return pal.color(QPalette::Button);
    case 18: // button text
        return pal.color(QPalette::ButtonText);
    case 17: // grey text
        return pal.color(QPalette::Disabled, QPalette::Text);
    case 20: // button highlight
        return pal.color(QPalette::Light);
    case 22: // 3D light
        return pal.color(QPalette::Midlight);
    case 1:  // desktop background
    case 16: // button shadow
        return pal.color(QPalette::Dark);
    case 6:  // window frame
    case 21: // 3D dark shadow
        return pal.color(QPalette::Shadow);
    case 23: // info text
        return pal.color(QPalette::ToolTipText);
    case 24: // info background
        return pal.color(QPalette::ToolTipBase);
    case 26: // hot light
        return pal.color(QPalette::Link);
    case 0:  // scroll bar
    case 3:  // inactive caption
    case 12: // application workspace
    case 28: // gradient inactive caption
        return pal.color(QPalette::Mid);
    default: // borders, menus, menu bar
        return pal.color(QPalette::Window);
    }
}

namespace {

// How a cell shows a colour value: system colours in the desktop's colours, "none" as nothing.
QColor PaintColor(ColorValue color)
{
    if ((color >> 24) == 0xFF)
        return SystemColor(int(color & 0xFF));
    if (color == 0x20000000u) // the default colour
        return QGuiApplication::palette().color(QPalette::Base);
    if (color == 0x1FFFFFFFu) // no colour
        return QColor(Qt::transparent);
    const ColorBytes c = SplitColor(color);
    return QColor(c.red, c.green, c.blue);
}

} // namespace

ColorCell::ColorCell(int tag, QWidget* parent) : QWidget(parent), m_tag(tag)
{
    setObjectName(QStringLiteral("Shape%1").arg(tag));
}

void ColorCell::setColor(ColorValue color)
{
    m_color = color;
    update();
}

void ColorCell::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(PaintColor(m_color));
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = qMin(r.width(), r.height()) / 4;
    p.drawRoundedRect(r, radius, radius);
}

void ColorCell::mousePressEvent(QMouseEvent* event)
{
    Q_EMIT mouseDown(this, event->button());
    event->accept();
}
