#include "PaletteFile.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "FileCopy.h"
#include "TextRules.h"

#include <QFile>

const QString PaletteHeader = QStringLiteral(";Color Capture File.Don't manually edit this file!");

namespace {

// Far more than the largest palette anyone keeps.
constexpr qint64 kMaxPaletteBytes = 1024 * 1024;

// Lines as the runtime's line reader sees them: ended by CR LF, LF or CR; a final terminator
// starts no further line.
QStringList SplitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines << text.mid(start, i - start);
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

} // namespace

const std::vector<NamedColor>& PaletteColorNames()
{
    static const std::vector<NamedColor> names = {
        {"clBlack", 0x00000000},
        {"clMaroon", 0x00000080},
        {"clGreen", 0x00008000},
        {"clOlive", 0x00008080},
        {"clNavy", 0x00800000},
        {"clPurple", 0x00800080},
        {"clTeal", 0x00808000},
        {"clGray", 0x00808080},
        {"clSilver", 0x00C0C0C0},
        {"clRed", 0x000000FF},
        {"clLime", 0x0000FF00},
        {"clYellow", 0x0000FFFF},
        {"clBlue", 0x00FF0000},
        {"clFuchsia", 0x00FF00FF},
        {"clAqua", 0x00FFFF00},
        {"clWhite", 0x00FFFFFF},
        {"clMoneyGreen", 0x00C0DCC0},
        {"clSkyBlue", 0x00F0CAA6},
        {"clCream", 0x00F0FBFF},
        {"clMedGray", 0x00A4A0A0},
        {"clActiveBorder", 0xFF00000A},
        {"clActiveCaption", 0xFF000002},
        {"clAppWorkSpace", 0xFF00000C},
        {"clBackground", 0xFF000001},
        {"clBtnFace", 0xFF00000F},
        {"clBtnHighlight", 0xFF000014},
        {"clBtnShadow", 0xFF000010},
        {"clBtnText", 0xFF000012},
        {"clCaptionText", 0xFF000009},
        {"clDefault", 0x20000000},
        {"clGradientActiveCaption", 0xFF00001B},
        {"clGradientInactiveCaption", 0xFF00001C},
        {"clGrayText", 0xFF000011},
        {"clHighlight", 0xFF00000D},
        {"clHighlightText", 0xFF00000E},
        {"clHotLight", 0xFF00001A},
        {"clInactiveBorder", 0xFF00000B},
        {"clInactiveCaption", 0xFF000003},
        {"clInactiveCaptionText", 0xFF000013},
        {"clInfoBk", 0xFF000018},
        {"clInfoText", 0xFF000017},
        {"clMenu", 0xFF000004},
        {"clMenuBar", 0xFF00001E},
        {"clMenuHighlight", 0xFF00001D},
        {"clMenuText", 0xFF000007},
        {"clNone", 0x1FFFFFFF},
        {"clScrollBar", 0xFF000000},
        {"cl3DDkShadow", 0xFF000015},
        {"cl3DLight", 0xFF000016},
        {"clWindow", 0xFF000005},
        {"clWindowFrame", 0xFF000006},
        {"clWindowText", 0xFF000008},
    };
    return names;
}

const std::array<int, PaletteCellCount>& PaletteWriteOrder()
{
    static const std::array<int, PaletteCellCount> order = {
        1, 2, 3, 7, 8, 9, 4, 5, 6, 10, 11, 12, 13, 14, 15, 19, 20, 21, 16, 17, 18, 22, 23, 24};
    return order;
}

QString ColorText(ColorValue color)
{
    for (const NamedColor& entry : PaletteColorNames())
        if (entry.value == color)
            return QString::fromLatin1(entry.name);
    return QStringLiteral("$") + QStringLiteral("%1").arg(color, 8, 16, QLatin1Char('0')).toUpper();
}

bool ParseColorText(const QString& text, ColorValue* color)
{
    for (const NamedColor& entry : PaletteColorNames()) {
        if (AsciiEqualsIgnoreCase(text, QString::fromLatin1(entry.name))) {
            *color = entry.value;
            return true;
        }
    }
    int value = 0;
    if (!StrToIntStrict(text, &value))
        return false;
    *color = ColorValue(quint32(value));
    return true;
}

QByteArray PaletteBytes(const PaletteCells& cells)
{
    QString text = PaletteHeader + QStringLiteral("\r\n");
    for (const int number : PaletteWriteOrder())
        text +=
            ColorText(cells[number - 1]) + u',' + QString::number(number) + QStringLiteral("\r\n");
    return text.toUtf8();
}

bool ParsePalette(const QByteArray& bytes, PaletteCells* cells)
{
    const QStringList lines = SplitLines(QString::fromUtf8(bytes));
    if (!lines.isEmpty() && !AsciiEqualsIgnoreCase(lines.first(), PaletteHeader))
        return false;
    PaletteCells slots{};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const qsizetype comma = line.indexOf(u',');
        if (comma < 0)
            continue;
        ColorValue color = 0;
        int number = 0;
        if (!ParseColorText(line.left(comma), &color) ||
            !StrToIntStrict(line.mid(comma + 1), &number))
            continue;
        if (number < 1 || number > PaletteCellCount)
            continue;
        slots[number - 1] = color;
    }
    *cells = slots;
    return true;
}

void WritePalette(const QString& fileName, const PaletteCells& cells)
{
    QString error;
    if (!WriteFileAtomically(fileName, PaletteBytes(cells), &error))
        throw InOutError(fileName, error);
}

bool ReadPalette(const QString& fileName, PaletteCells* cells)
{
    // A palette holds a few hundred colours; a file far larger (a film picked by mistake, a
    // device, a pipe) is refused before it is read.
    QString why;
    const std::optional<QByteArray> bytes = ReadRegularFile(fileName, kMaxPaletteBytes, &why);
    if (!bytes)
        throw InOutError(fileName, why);
    const QByteArray head = bytes->left(256);
    qsizetype end = 0;
    while (end < head.size() && head[end] != '\r' && head[end] != '\n')
        ++end;
    if (end == head.size() && bytes->size() > head.size())
        return false;
    if (!head.isEmpty() && !AsciiEqualsIgnoreCase(QString::fromUtf8(head.left(end)), PaletteHeader))
        return false;
    return ParsePalette(*bytes, cells);
}
