#include "FileNames.h"
#include "TestFiles.h"
#include "TextRules.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(CleanFileName, RemovesAndReplacesForbiddenCharacters)
{
    EXPECT_EQ(CleanFileName("a/b:c?"), "a-bc");
    EXPECT_EQ(CleanFileName("  \t Title \r\n"), "Title");
    EXPECT_EQ(CleanFileName("\\:*?\"<>|\r\n"), "");
    EXPECT_EQ(CleanFileName("x<y>|z\"w"), "xyzw");
    EXPECT_EQ(CleanFileName(QString("\x01 a \x1f")), "a");
    EXPECT_EQ(CleanFileName("/ leading slash"), "- leading slash");
    EXPECT_EQ(CleanFileName(QStringLiteral("新闻 — 日报")), QStringLiteral("新闻 — 日报"));
}

TEST(CounterSuffixPos, FindsAnIntegerInFinalParentheses)
{
    EXPECT_EQ(CounterSuffixPos("page(12)"), 6);
    EXPECT_EQ(CounterSuffixPos("a(b)(3)"), 6);
    EXPECT_EQ(CounterSuffixPos("(7)"), 2);
    EXPECT_EQ(CounterSuffixPos("x(-1)"), 3);
    EXPECT_EQ(CounterSuffixPos("x($1F)"), 3);
    for (const char* no :
         {"page(x)", "page()", "page(1", "page", "", ")", "x)(", "x( 1 )", "x(99999999999)"})
        EXPECT_EQ(CounterSuffixPos(no), -1) << no;
}

TEST(StrToIntStrict, AcceptsTheRuntimesIntegerForms)
{
    struct Case
    {
        const char* text;
        bool ok;
        int value;
    };
    for (const Case& c :
         {Case{"12", true, 12}, Case{"  -7", true, -7}, Case{"+3", true, 3}, Case{"$ff", true, 255},
          Case{"x10", true, 16}, Case{"0X1a", true, 26}, Case{"-$10", true, -16},
          Case{"$FFFFFFFF", true, -1}, Case{"2147483647", true, 2147483647},
          Case{"-2147483648", true, int(-2147483647 - 1)}, Case{"2147483648", false, 0},
          Case{"12 ", false, 0}, Case{"", false, 0}, Case{"-", false, 0}, Case{"$", false, 0},
          Case{"1e3", false, 0}, Case{"$100000000", false, 0}}) {
        int v = 0;
        EXPECT_EQ(StrToIntStrict(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(TextInList, ComparesAsciiWithoutCaseUpToTheHighIndex)
{
    EXPECT_TRUE(TextInList("jpg", PhotoExts, 29));
    EXPECT_TRUE(TextInList("RgBa", PhotoExts, 29));
    EXPECT_FALSE(TextInList("RGBA", PhotoExts, 28));
    EXPECT_FALSE(TextInList("JPG", PhotoExts, -1));
    EXPECT_EQ(PhotoExts.size(), 30);
    EXPECT_EQ(MusicExts.size(), 63);
    EXPECT_EQ(MusicExts[24], "PLS");
    EXPECT_EQ(MusicExts[61], "PLS");
    EXPECT_EQ(MusicExts.last(), "XPL");
}

TEST(ClassifyFile, ByTheTextAfterTheLastDotOfAnExistingFile)
{
    QTemporaryDir dir;
    const struct
    {
        const char* name;
        FileClass expected;
    } cases[] = {{"b.JpG", fcPhoto},    {"b.mpeg", fcMusic}, {"b.htm", fcWebPage},
                 {"b.HTML", fcWebPage}, {"b.swf", fcFlash},  {"b.txt", fcText},
                 {"b.zip", fcOther},    {"noext", fcOther},  {"b.pls", fcMusic}};
    for (const auto& c : cases) {
        writeFile(dir.filePath(c.name), "x");
        EXPECT_EQ(ClassifyFile(dir.filePath(c.name)), c.expected) << c.name;
    }
    EXPECT_EQ(ClassifyFile(dir.filePath("missing.jpg")), fcOther);
    writeFile(dir.filePath("a.b/c"), "x");
    EXPECT_EQ(ClassifyFile(dir.filePath("a.b/c")), fcOther);
    QDir().mkpath(dir.filePath("folder.jpg"));
    EXPECT_EQ(ClassifyFile(dir.filePath("folder.jpg")), fcOther);
}

TEST(SafeRelativePath, CannotClimbOutOfItsRoot)
{
    EXPECT_EQ(SafeRelativePath("img/sub/x.gif"), "img/sub/x.gif");
    EXPECT_EQ(SafeRelativePath("../../etc/passwd"), "etc/passwd");
    EXPECT_EQ(SafeRelativePath("/abs//./x/"), "abs/x/");
    EXPECT_EQ(SafeRelativePath(".."), "");
    EXPECT_EQ(SafeRelativePath("..."), "...");
    EXPECT_EQ(SafeRelativePath(QString(300, u'a')).toUtf8().size(), 255);
}

TEST(CutToBytes, NeverCutsInsideACharacter)
{
    EXPECT_EQ(CutToBytes("short", 255), "short");
    const QString han(100, QChar(0x65B0)); // 3 bytes each in UTF-8
    EXPECT_EQ(CutToBytes(han, 10), QString(3, QChar(0x65B0)));
    const QString emoji = QString::fromUtf8("a😀😀");
    EXPECT_EQ(CutToBytes(emoji, 6), QString::fromUtf8("a😀"));
    EXPECT_EQ(CutToBytes(emoji, 4), "a");
}

} // namespace
