#include "ColorFormats.h"
#include "Errors.h"
#include "PaletteFile.h"

#include <QDir>
#include <QFile>
#include <QRgb>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray Crlf(const QStringList& lines)
{
    QByteArray out;
    for (const QString& line : lines)
        out += line.toUtf8() + "\r\n";
    return out;
}

PaletteCells AllOf(ColorValue color)
{
    PaletteCells cells;
    cells.fill(color);
    return cells;
}

QStringList ExpectedLines(const PaletteCells& cells)
{
    QStringList lines = {PaletteHeader};
    for (const int n : PaletteWriteOrder())
        lines << ColorText(cells[n - 1]) + u',' + QString::number(n);
    return lines;
}

TEST(ColorValues, SplitAndMakeAreInverse)
{
    EXPECT_EQ(MakeColor(1, 2, 3), 197121u);
    EXPECT_EQ(MakeColor(255, 0, 0), 255u);
    EXPECT_EQ(MakeColor(0, 0, 255), 16711680u);
    EXPECT_EQ(SplitColor(0x00030201), (ColorBytes{1, 2, 3}));
    // The top byte of a loaded system colour plays no part in the three components.
    EXPECT_EQ(SplitColor(0xFF000005), (ColorBytes{5, 0, 0}));
    EXPECT_EQ(ColorFromRgb(qRgb(18, 52, 86)), 0x00563412u);
    EXPECT_EQ(DecimalText(MakeColor(1, 2, 3)), "197121");
    EXPECT_EQ(DecimalText(0xFF0000FF), "255");
}

TEST(ColorValues, CopyFormats)
{
    struct Case
    {
        ColorValue color;
        const char *web, *delphi, *vb, *standard;
    };
    const Case cases[] = {
        {MakeColor(255, 255, 255), "#FFFFFF", "$00FFFFFF", "&H00FFFFFF&", "00FFFFFFH"},
        {MakeColor(1, 2, 3), "#010203", "$00030201", "&H00030201&", "00030201H"},
        {MakeColor(255, 0, 0), "#FF0000", "$000000FF", "&H000000FF&", "000000FFH"},
        {0xFF000005, "#050000", "$00000005", "&H00000005&", "00000005H"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatColor(c.color, CopyFormat::WebPage), c.web);
        EXPECT_EQ(FormatColor(c.color, CopyFormat::Delphi), c.delphi);
        EXPECT_EQ(FormatColor(c.color, CopyFormat::VB), c.vb);
        EXPECT_EQ(FormatColor(c.color, CopyFormat::Standard), c.standard);
        EXPECT_TRUE(FormatColor(c.color, CopyFormat::VC).isEmpty());
    }
}

TEST(ColorNames, TableHoldsTheFiftyTwoNamesWithDistinctValues)
{
    const auto& names = PaletteColorNames();
    ASSERT_EQ(names.size(), 52u);
    EXPECT_STREQ(names.front().name, "clBlack");
    EXPECT_STREQ(names[19].name, "clMedGray");
    EXPECT_STREQ(names.back().name, "clWindowText");
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = i + 1; j < names.size(); ++j)
            EXPECT_NE(names[i].value, names[j].value) << names[i].name << " " << names[j].name;
}

TEST(ColorNames, ColorTextUsesNamesElseDollarHex)
{
    EXPECT_EQ(ColorText(MakeColor(255, 255, 255)), "clWhite");
    EXPECT_EQ(ColorText(MakeColor(18, 52, 86)), "$00563412");
    EXPECT_EQ(ColorText(MakeColor(0, 0, 0)), "clBlack");
    EXPECT_EQ(ColorText(0xFF000005), "clWindow");
    EXPECT_EQ(ColorText(0x1FFFFFFF), "clNone");
    EXPECT_EQ(ColorText(0x0000000A), "$0000000A");
    EXPECT_EQ(ColorText(0xABCDEF12), "$ABCDEF12");
}

TEST(ColorNames, ParseColorTextAcceptsNamesAndIntegerTexts)
{
    const struct
    {
        const char* text;
        ColorValue value;
    } good[] = {
        {"clRed", 0xFF},
        {"clred", 0xFF},
        {"CLRED", 0xFF},
        {"$000000FF", 0xFF},
        {"0xff", 0xFF},
        {"0XFF", 0xFF},
        {"xff", 0xFF},
        {"255", 0xFF},
        {"+255", 0xFF},
        {"   255", 0xFF},
        {"-1", 0xFFFFFFFF},
        {"$FFFFFFFF", 0xFFFFFFFF},
        {"$0000000000FF", 0xFF},
        {"clWindow", 0xFF000005},
        {"-2147483648", 0x80000000},
        {"2147483647", 0x7FFFFFFF},
    };
    for (const auto& c : good) {
        ColorValue v = 0x12345678;
        EXPECT_TRUE(ParseColorText(QString::fromLatin1(c.text), &v)) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    const char* bad[] = {"",     "clRed ",     " clRed",     "clRedd", "12a",    "$",  "0x",
                         "255 ", "2147483648", "$100000000", "1e3",    "cl Red", "- 1"};
    for (const char* text : bad) {
        ColorValue v = 0;
        EXPECT_FALSE(ParseColorText(QString::fromLatin1(text), &v)) << text;
    }
}

TEST(PaletteWrite, FreshPaletteIsHeaderAndTwentyFourWhiteLinesInCreationOrder)
{
    const QByteArray bytes = PaletteBytes(AllOf(MakeColor(255, 255, 255)));
    ASSERT_TRUE(bytes.endsWith("\r\n"));
    const QList<QByteArray> lines = bytes.left(bytes.size() - 2).split('\n');
    ASSERT_EQ(lines.size(), 25);
    EXPECT_EQ(lines[0], PaletteHeader.toUtf8() + "\r");
    const int order[] = {1,  2,  3,  7,  8,  9,  4,  5,  6,  10, 11, 12,
                         13, 14, 15, 19, 20, 21, 16, 17, 18, 22, 23, 24};
    for (int i = 0; i < 24; ++i) {
        const QByteArray want = "clWhite," + QByteArray::number(order[i]);
        EXPECT_EQ(lines[i + 1], i == 23 ? want : want + "\r") << i;
    }
}

TEST(PaletteWrite, OneCapturedCellIsWrittenInDollarForm)
{
    PaletteCells cells = AllOf(MakeColor(255, 255, 255));
    cells[3] = MakeColor(18, 52, 86);
    const QByteArray bytes = PaletteBytes(cells);
    const QList<QByteArray> lines = bytes.split('\n');
    EXPECT_EQ(lines[6], "clWhite,9\r");
    EXPECT_EQ(lines[7], "$00563412,4\r");
    EXPECT_EQ(lines[8], "clWhite,5\r");
    EXPECT_EQ(lines[24], "clWhite,24\r");
}

TEST(PaletteRead, HeaderRules)
{
    PaletteCells cells = AllOf(0x00ABCDEF);
    // An empty file is accepted and blackens every cell.
    EXPECT_TRUE(ParsePalette(QByteArray(), &cells));
    EXPECT_EQ(cells, AllOf(0));

    cells = AllOf(0x00ABCDEF);
    EXPECT_TRUE(ParsePalette(Crlf({PaletteHeader}), &cells));
    EXPECT_EQ(cells, AllOf(0));

    cells = AllOf(0x00ABCDEF);
    EXPECT_TRUE(ParsePalette(Crlf({PaletteHeader.toUpper(), "clRed,1"}), &cells));
    EXPECT_EQ(cells[0], 0xFFu);

    // Refused files leave the cells alone.
    const QByteArray refused[] = {
        Crlf({PaletteHeader + u' ', "clRed,1"}),
        Crlf({u' ' + PaletteHeader, "clRed,1"}),
        Crlf({"", PaletteHeader}),
        QByteArray("\r\n"),
        QByteArray("not a palette"),
    };
    for (const QByteArray& bytes : refused) {
        cells = AllOf(0x00ABCDEF);
        EXPECT_FALSE(ParsePalette(bytes, &cells)) << bytes.constData();
        EXPECT_EQ(cells, AllOf(0x00ABCDEF));
    }
}

TEST(PaletteRead, CellLines)
{
    const struct
    {
        const char* line;
        bool makesCell3Red;
    } cases[] = {
        {"clred,3", true},   {"$000000FF,3", true}, {"0xff,3", true},   {"255,3", true},
        {"clRed, 3", true},  {"clRed,$3", true},    {"clRed,+3", true}, {"clRed ,3", false},
        {"clRed,3 ", false}, {"clRed,25", false},   {"clRed,0", false}, {"clRed,-3", false},
        {"clRed", false},    {",3", false},         {"clRed,", false},  {"clRedd,3", false},
        {"clRed,3a", false}, {"clRed;3", false},    {"", false},
    };
    for (const auto& c : cases) {
        PaletteCells cells = AllOf(0x00ABCDEF);
        ASSERT_TRUE(ParsePalette(Crlf({PaletteHeader, QString::fromLatin1(c.line)}), &cells));
        EXPECT_EQ(cells[2], c.makesCell3Red ? 0xFFu : 0u) << c.line;
    }
}

TEST(PaletteRead, LaterLinesWinAndLineEndsMayVary)
{
    PaletteCells cells{};
    const QByteArray bytes =
        PaletteHeader.toUtf8() + "\nclRed,5\rclLime,5\r\n$00563412,24\r\nclWindow,1,extra";
    ASSERT_TRUE(ParsePalette(bytes, &cells));
    EXPECT_EQ(cells[4], 0x0000FF00u);
    EXPECT_EQ(cells[23], 0x00563412u);
    // Only the first comma splits: "1,extra" is no number.
    EXPECT_EQ(cells[0], 0u);
}

TEST(PaletteRead, LoadThenSaveWritesTwentyFourLinesInOrder)
{
    PaletteCells cells{};
    ASSERT_TRUE(ParsePalette(Crlf({PaletteHeader, "clBlue,24", "junk", "clRed,2", "clLime,2",
                                   "clWindow,13", "$12345678,7", "clRed,99"}),
                             &cells));
    PaletteCells expected{};
    expected[23] = 0x00FF0000;
    expected[1] = 0x0000FF00;
    expected[12] = 0xFF000005;
    expected[6] = 0x12345678;
    EXPECT_EQ(cells, expected);
    EXPECT_EQ(PaletteBytes(cells), Crlf(ExpectedLines(expected)));
    // System colours keep their names on the way back.
    EXPECT_TRUE(PaletteBytes(cells).contains("\r\nclWindow,13\r\n"));
}

class PaletteFiles : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return tmp.filePath(name); }
    QTemporaryDir tmp;
};

TEST_F(PaletteFiles, WriteThenReadRoundTrips)
{
    PaletteCells cells{};
    for (int i = 0; i < PaletteCellCount; ++i)
        cells[i] = MakeColor(quint8(i), quint8(i * 7), quint8(255 - i));
    cells[5] = 0xFF00000F;
    WritePalette(path("a.col"), cells);
    PaletteCells back = AllOf(1);
    ASSERT_TRUE(ReadPalette(path("a.col"), &back));
    EXPECT_EQ(back, cells);
}

TEST_F(PaletteFiles, WriteReplacesAnOldFileWhole)
{
    QFile old(path("a.col"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'x'));
    old.close();
    WritePalette(path("a.col"), AllOf(0));
    QFile f(path("a.col"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), PaletteBytes(AllOf(0)));
}

TEST_F(PaletteFiles, WriteFailureThrowsAndLeavesNoFile)
{
    QFile blocker(path("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(WritePalette(path("file/a.col"), AllOf(0)), InOutError);
    EXPECT_THROW(WritePalette(tmp.path(), AllOf(0)), InOutError);
    EXPECT_TRUE(QFileInfo(tmp.path()).isDir());
}

TEST_F(PaletteFiles, ReadFailures)
{
    PaletteCells cells = AllOf(7);
    EXPECT_THROW(ReadPalette(path("missing.col"), &cells), InOutError);
    EXPECT_THROW(ReadPalette(tmp.path(), &cells), InOutError);
    EXPECT_EQ(cells, AllOf(7));
}

TEST_F(PaletteFiles, LargeFileWithoutHeaderIsRefusedOnItsFirstLine)
{
    QFile f(path("film.col"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(100000, 'A'));
    f.close();
    PaletteCells cells = AllOf(7);
    EXPECT_FALSE(ReadPalette(path("film.col"), &cells));
    EXPECT_EQ(cells, AllOf(7));
}

} // namespace
