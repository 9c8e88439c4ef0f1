#include "IniFile.h"
#include "TestFiles.h"
#include "u_Language.h"
#include "u_LanguageKeys.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class Language : public ::testing::Test
{
protected:
    void SetUp() override
    {
        AppDir = m_dir.path() + "/";
        CurrentLanguage = "English";
    }
    QTemporaryDir m_dir;
};

TEST_F(Language, LooksUpTheCurrentLanguageFileAtEveryCall)
{
    writeText(AppDir + "English.LAG", "[Translations]\r\nForm_Main.m_Exit.Caption=E&xit\r\n");
    EXPECT_EQ(Translate("Form_Main.m_Exit.Caption"), "E&xit");
    EXPECT_EQ(Translate("form_main.M_EXIT.caption"), "E&xit");

    // An edited file takes effect at the next look-up: nothing is cached.
    writeText(AppDir + "English.LAG", "[Translations]\r\nC_CloseIE=Close?\r\n");
    EXPECT_EQ(Translate("Form_Main.m_Exit.Caption"), "");
    EXPECT_EQ(Translate("C_CloseIE"), "Close?");
}

TEST_F(Language, LowerCaseKeyInTheFileIsFound)
{
    writeText(AppDir + "English.LAG", "[translations]\r\nform_main.m_exit.caption=Exit\r\n");
    EXPECT_EQ(Translate("Form_Main.m_Exit.Caption"), "Exit");
}

TEST_F(Language, MissingFileOrEmptyLanguageGivesEmptyTexts)
{
    CurrentLanguage = "Klingon";
    EXPECT_EQ(Translate("C_CloseIE"), "");
    CurrentLanguage.clear();
    EXPECT_EQ(Translate("C_CloseIE"), "");
    writeText(AppDir + ".LAG", "[Translations]\r\nC_CloseIE=nameless\r\n");
    EXPECT_EQ(Translate("C_CloseIE"), "nameless");
}

TEST_F(Language, TraditionalChineseIsDerivedFromTheSimplifiedFile)
{
    CurrentLanguage = TraditionalChineseName;
    EXPECT_EQ(Translate("C_X"), ""); // no Simplified Chinese file: every text is empty

    writeText(AppDir + SimplifiedChineseName + ".LAG",
              QStringLiteral("[Translations]\r\nC_X=简体\r\nC_Y=退出(&X) abc\r\n"));
    EXPECT_EQ(Translate("C_X"), QStringLiteral("簡體"));
    EXPECT_EQ(Translate("C_Y"), QStringLiteral("退出(&X) abc"));

    CurrentLanguage = SimplifiedChineseName;
    EXPECT_EQ(Translate("C_X"), QStringLiteral("简体"));
}

TEST_F(Language, ChineseNamesAreRecognisedOnlyWhenEqual)
{
    writeText(AppDir + SimplifiedChineseName + ".LAG",
              QStringLiteral("[Translations]\r\nC_X=简体\r\n"));
    CurrentLanguage = TraditionalChineseName + " "; // not the name: its own (missing) file
    EXPECT_EQ(Translate("C_X"), "");
}

TEST_F(Language, FontFollowsTheLanguage)
{
    CurrentLanguage = SimplifiedChineseName;
    EXPECT_EQ(LanguageFont().family(), QStringLiteral("宋体"));
    EXPECT_EQ(LanguageFont().pointSize(), 9);
    CurrentLanguage = TraditionalChineseName;
    EXPECT_EQ(LanguageFont().pointSize(), 9);
    CurrentLanguage = "English";
    EXPECT_EQ(LanguageFont().family(), "MS Sans Serif");
    EXPECT_EQ(LanguageFont().pointSize(), 8);
}

TEST_F(Language, AvailableLanguagesAreTheLagFilesThenTraditionalChinese)
{
    writeText(AppDir + "English.LAG", "");
    writeText(AppDir + "Deutsch.v2.LAG", "");
    writeText(AppDir + "notes.txt", "");
    writeText(AppDir + "lower.lag", "");
    QStringList langs = AvailableLanguages();
    ASSERT_EQ(langs.size(), 3);
    EXPECT_EQ(langs.last(), TraditionalChineseName);
    langs.removeLast();
    langs.sort();
    EXPECT_EQ(langs, QStringList({"Deutsch.v2", "English"}));
}

// The shipped files must answer every key the program looks up, each with a text.
TEST(ShippedLanguageFiles, HoldEveryKeyTheProgramUses)
{
    const QStringList files = {QStringLiteral("English.LAG"), QStringLiteral("简体中文.LAG")};
    for (const QString& name : files) {
        const QString path = QStringLiteral(NIMBRIL_PROGRAM_DIR "/") + name;
        ASSERT_TRUE(QFile::exists(path)) << path.toStdString();
        for (const QString& key : AllLanguageKeys())
            EXPECT_FALSE(IniFile::ReadString(path, "Translations", key).isEmpty())
                << name.toStdString() << ": " << key.toStdString();
    }
}

TEST(ShippedLanguageFiles, CoverEveryKeyNamedInTheSources)
{
    // Keys written literally in the sources ("C_..." and "Form_....Caption/Hint") must be in the
    // list the files are checked against.
    const QRegularExpression keyPattern(
        QStringLiteral(R"re("((?:C_[A-Za-z]+)|(?:(?:Form_\w+\.)?\w+\.(?:Caption|Hint)))")re"));
    const QStringList folders = {"app", "capture", "dialogs", "lang", "platform", "store"};
    for (const QString& folder : folders) {
        QDir dir(QStringLiteral(NIMBRIL_SOURCE_DIR "/") + folder);
        for (const QString& file : dir.entryList({"*.cpp", "*.h"}, QDir::Files)) {
            if (file.startsWith("u_LanguageKeys"))
                continue;
            QFile f(dir.filePath(file));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(f.readAll());
            for (const auto& m : keyPattern.globalMatch(text))
                EXPECT_TRUE(AllLanguageKeys().contains(m.captured(1)))
                    << file.toStdString() << ": " << m.captured(1).toStdString();
        }
    }
}

} // namespace
