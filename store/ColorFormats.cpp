#include "ColorFormats.h"

namespace {

QString Hex2(quint8 byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

ColorBytes SplitColor(ColorValue color)
{
    return {quint8(color & 0xFF), quint8((color >> 8) & 0xFF), quint8((color >> 16) & 0xFF)};
}

ColorValue MakeColor(quint8 red, quint8 green, quint8 blue)
{
    return ColorValue(red) + 256u * ColorValue(green) + 65536u * ColorValue(blue);
}

ColorValue ColorFromRgb(quint32 rgb)
{
    return MakeColor(quint8(rgb >> 16), quint8(rgb >> 8), quint8(rgb));
}

QString FormatColor(ColorValue color, CopyFormat format)
{
    const ColorBytes c = SplitColor(color);
    const QString rgb = Hex2(c.red) + Hex2(c.green) + Hex2(c.blue);
    const QString bgr = Hex2(c.blue) + Hex2(c.green) + Hex2(c.red);
    switch (format) {
    case CopyFormat::WebPage:
        return QStringLiteral("#") + rgb;
    case CopyFormat::Delphi:
        return QStringLiteral("$00") + bgr;
    case CopyFormat::VB:
        return QStringLiteral("&H00") + bgr + QStringLiteral("&");
    case CopyFormat::Standard:
        return QStringLiteral("00") + bgr + QStringLiteral("H");
    case CopyFormat::VC:
        break;
    }
    return QString();
}

QString DecimalText(ColorValue color)
{
    const ColorBytes c = SplitColor(color);
    return QString::number(MakeColor(c.red, c.green, c.blue));
}
