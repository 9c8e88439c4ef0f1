#pragma once

#include "ColorFormats.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <vector>

// The 24 cells of a palette; index i holds cell number i + 1.
constexpr int PaletteCellCount = 24;
using PaletteCells = std::array<ColorValue, PaletteCellCount>;

// The first line of every palette file.
extern const QString PaletteHeader;

// One entry of the colour name table.
struct NamedColor
{
    const char* name;
    ColorValue value;
};

// The 52 colour names a palette file may use, in table order: twenty plain colours first, then
// the system colours and the two special values.
const std::vector<NamedColor>& PaletteColorNames();

// The order in which the cell lines are written (the order the picker's cells were made in).
const std::array<int, PaletteCellCount>& PaletteWriteOrder();

// A colour's name from the table, or "$" and eight uppercase hexadecimal digits.
QString ColorText(ColorValue color);

// A colour text read back: a table name (letter case ignored, nothing trimmed) or an integer
// text. False when it is neither.
bool ParseColorText(const QString& text, ColorValue* color);

// The whole file for these cells: the header and 24 cell lines, each ended by CR LF.
QByteArray PaletteBytes(const PaletteCells& cells);

// The cells a file's bytes describe. False when the first line is not the header (the cells are
// then left alone); bad cell lines are skipped, and a cell no valid line names becomes black.
bool ParsePalette(const QByteArray& bytes, PaletteCells* cells);

// Writes the cells to a file, replacing an old one only when the new one is whole. Throws
// InOutError when the file cannot be written.
void WritePalette(const QString& fileName, const PaletteCells& cells);

// Reads a palette file into the cells; false when the file is not a palette file. Throws
// InOutError when the file cannot be opened or read.
bool ReadPalette(const QString& fileName, PaletteCells* cells);
