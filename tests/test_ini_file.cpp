#include "Errors.h"
#include "IniFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ReadCase
{
    const char* text;
    const char* section;
    const char* key;
    const char* expected;
};

class IniRead : public ::testing::TestWithParam<ReadCase>
{};

TEST_P(IniRead, FollowsProfileRules)
{
    const ReadCase c = GetParam();
    EXPECT_EQ(IniFile::ReadStringFromText(QString::fromUtf8(c.text), QString::fromUtf8(c.section),
                                          QString::fromUtf8(c.key), QStringLiteral("<default>")),
              QString::fromUtf8(c.expected))
        << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    ::testing::Values(ReadCase{"[CollectionDir]\r\nPath=/x\r\n", "CollectionDir", "Path", "/x"},
                      ReadCase{"[collectiondir]\r\npath=/x\r\n", "CollectionDir", "PATH", "/x"},
                      ReadCase{"[ Language ]\r\n  DefaultLanguage  =   English  \r\n", "language",
                               "defaultlanguage", "English"},
                      ReadCase{"[S]\nK=\"quoted value\"\n", "S", "K", "quoted value"},
                      ReadCase{"[S]\nK='single'\n", "S", "K", "single"},
                      ReadCase{"[S]\nK=\"\"x\"\"\n", "S", "K", "\"x\""},
                      ReadCase{"[S]\nK=\"unbalanced\n", "S", "K", "\"unbalanced"},
                      ReadCase{"[S]\nK=a=b\n", "S", "K", "a=b"},
                      ReadCase{"[S]\nK=\n", "S", "K", ""},
                      ReadCase{"[S]\nOther=1\n", "S", "K", "<default>"},
                      ReadCase{"[T]\nK=1\n", "S", "K", "<default>"},
                      ReadCase{"K=1\n[S]\n", "S", "K", "<default>"},
                      ReadCase{"", "S", "K", "<default>"},
                      ReadCase{"[S]\nK=first\nK=second\n", "S", "K", "first"},
                      ReadCase{"[S]\nA=1\n[T]\nK=t\n[S]\nK=late\n", "S", "K", "<default>"},
                      ReadCase{"[Translations]\nC_X=简体\n", "translations", "c_x", "简体"}));

TEST(IniFile, ValueIsCutAt2047CharactersWithoutSplittingACharacter)
{
    const QString longValue(3000, u'a');
    EXPECT_EQ(IniFile::ReadStringFromText("[S]\nK=" + longValue, "S", "K").size(), 2047);

    // A character outside the basic plane straddling the limit is left out whole.
    const QString straddling = QString(2046, u'a') + QString::fromUtf8("😀") + "b";
    const QString got = IniFile::ReadStringFromText("[S]\nK=" + straddling, "S", "K");
    EXPECT_EQ(got, QString(2046, u'a'));
}

TEST(IniFile, MissingFileGivesDefault)
{
    QTemporaryDir dir;
    EXPECT_EQ(IniFile::ReadString(dir.filePath("none.ini"), "S", "K", "d"), "d");
}

TEST(IniFile, WritingCreatesFileAndSectionWithCrLfLines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Config.ini");
    IniFile::WriteString(path, "CollectionDir", "Path", "/home/u/NimbrilApp");
    IniFile::WriteString(path, "Language", "DefaultLanguage", "English");
    EXPECT_EQ(readFile(path), QByteArray("[CollectionDir]\r\nPath=/home/u/NimbrilApp\r\n\r\n"
                                         "[Language]\r\nDefaultLanguage=English\r\n"));
}

TEST(IniFile, RewriteReplacesOneValueAndKeepsEveryOtherLine)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Config.ini");
    ASSERT_TRUE(
        writeFile(path, "; a comment the user wrote\n[collectiondir]\npath=/old\nExtra = kept \n\n"
                        "[Language]\nDefaultLanguage=English\n"));
    IniFile::WriteString(path, "CollectionDir", "Path", "/new");
    IniFile::WriteString(path, "LANGUAGE", "Other", "x");
    EXPECT_EQ(readFile(path),
              QByteArray("; a comment the user wrote\r\n[collectiondir]\r\nPath=/new"
                         "\r\nExtra = kept \r\n\r\n[Language]\r\n"
                         "DefaultLanguage=English\r\nOther=x\r\n"));
    EXPECT_EQ(IniFile::ReadString(path, "collectiondir", "PATH"), "/new");
}

TEST(IniFile, NewKeyGoesAfterTheSectionsLastLineNotAfterBlankLines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    ASSERT_TRUE(writeFile(path, "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"));
    IniFile::WriteString(path, "A", "z", "3");
    EXPECT_EQ(readFile(path), QByteArray("[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"));
}

TEST(IniFile, FailedWriteRaisesUnableToWriteAndLeavesNothingHalfWritten)
{
    QTemporaryDir dir;
    const QString missingFolder = dir.filePath("no/such/folder/Config.ini");
    try {
        IniFile::WriteString(missingFolder, "S", "K", "v");
        FAIL() << "no error raised";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(e.text(), "Unable to write to " + missingFolder);
    }

    // A folder standing where the file should be: the write fails, the folder is untouched.
    const QString asFolder = dir.filePath("Config.ini");
    ASSERT_TRUE(QDir().mkpath(asFolder));
    EXPECT_THROW(IniFile::WriteString(asFolder, "S", "K", "v"), IniWriteError);
    EXPECT_TRUE(QFileInfo(asFolder).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

} // namespace
