#pragma once

#include <QString>
#include <QtGlobal>

// A colour value in the layout 0x00BBGGRR: red in the low byte. Values read from a palette file
// may carry a system-colour marker in the top byte.
using ColorValue = quint32;

// The three colour bytes of a colour value.
struct ColorBytes
{
    quint8 red = 0;
    quint8 green = 0;
    quint8 blue = 0;
    bool operator==(const ColorBytes&) const = default;
};

// Red, green and blue from the three low bytes.
ColorBytes SplitColor(ColorValue color);

// r + 256·g + 65536·b.
ColorValue MakeColor(quint8 red, quint8 green, quint8 blue);

// The colour value of a screen pixel as the desktop layer reports it (a QRgb, 0xAARRGGBB).
ColorValue ColorFromRgb(quint32 rgb);

// The text forms a colour can be copied in; VC has none.
enum class CopyFormat
{
    WebPage,
    Delphi,
    VB,
    VC,
    Standard
};

// The colour's text in a copy format, from its three low bytes; empty for CopyFormat::VC.
QString FormatColor(ColorValue color, CopyFormat format);

// The decimal form shown beside the hex code: MakeColor of the three low bytes.
QString DecimalText(ColorValue color);
