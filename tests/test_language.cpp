#include "IniFile.h"
#include "LanguageCatalogue.h"
#include "LanguageKeys.h"
#include "TestFiles.h"
#include "TraditionalConverter.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class Language : public ::testing::Test
{
protected:
    QString dir() const { return m_dir.path() + "/"; }
    QTemporaryDir m_dir;
    LanguageCatalogue catalogue{m_dir.path()};
};

TEST_F(Language, ReadsTheFileWhenTheLanguageIsSetAndSignalsAChange)
{
    writeText(dir() + "English.LAG", "[Translations]\r\nForm_Main.m_Exit.Caption=E&xit\r\n");
    int changes = 0;
    QObject::connect(&catalogue, &LanguageCatalogue::changed, [&changes] { ++changes; });
    catalogue.setLanguage("English");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(catalogue.text("Form_Main.m_Exit.Caption"), "E&xit");
    EXPECT_EQ(catalogue.text("form_main.M_EXIT.caption"), "E&xit");

    // What was read is kept: an edited file takes effect when the language is set again, and
    // setting the same language again is no change.
    writeText(dir() + "English.LAG", "[Translations]\r\nC_CloseIE=Close?\r\n");
    EXPECT_EQ(catalogue.text("Form_Main.m_Exit.Caption"), "E&xit");
    catalogue.setLanguage("English");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(catalogue.text("Form_Main.m_Exit.Caption"), "");
    EXPECT_EQ(catalogue.text("C_CloseIE"), "Close?");
}

TEST_F(Language, LowerCaseKeyInTheFileIsFound)
{
    writeText(dir() + "English.LAG", "[translations]\r\nform_main.m_exit.caption=Exit\r\n");
    catalogue.setLanguage("English");
    EXPECT_EQ(catalogue.text("Form_Main.m_Exit.Caption"), "Exit");
}

TEST_F(Language, MissingFileOrEmptyLanguageGivesEmptyTexts)
{
    catalogue.setLanguage("Klingon");
    EXPECT_EQ(catalogue.text("C_CloseIE"), "");
    catalogue.setLanguage(QString());
    EXPECT_EQ(catalogue.text("C_CloseIE"), "");
    writeText(dir() + ".LAG", "[Translations]\r\nC_CloseIE=nameless\r\n");
    catalogue.setLanguage(QString());
    EXPECT_EQ(catalogue.text("C_CloseIE"), "nameless");
}

TEST_F(Language, TraditionalChineseIsDerivedFromTheSimplifiedFile)
{
    catalogue.setLanguage(TraditionalChineseName);
    EXPECT_EQ(catalogue.text("C_X"), ""); // no Simplified Chinese file: every text is empty

    writeText(dir() + SimplifiedChineseName + ".LAG",
              QStringLiteral("[Translations]\r\nC_X=简体\r\nC_Y=退出(&X) abc\r\n"
                             "C_Z=用默认程序打开，按鼠标左键停止\r\n"));
    catalogue.setLanguage(TraditionalChineseName);
    EXPECT_EQ(catalogue.text("C_X"), QStringLiteral("簡體"));
    EXPECT_EQ(catalogue.text("C_Y"), QStringLiteral("退出(&X) abc"));
    // Taiwan's words, not character-for-character forms (默認, 鼠標)
    EXPECT_EQ(catalogue.text("C_Z"), QStringLiteral("用預設程式開啟，按滑鼠左鍵停止"));

    catalogue.setLanguage(SimplifiedChineseName);
    EXPECT_EQ(catalogue.text("C_X"), QStringLiteral("简体"));
}

TEST_F(Language, WithoutItsConverterTraditionalChineseShowsTheSimplifiedTextsAndSaysWhy)
{
    writeText(dir() + SimplifiedChineseName + ".LAG",
              QStringLiteral("[Translations]\r\nC_X=简体\r\n"));
    // No library of that name, and a library that is not OpenCC.
    for (const QString& library : QStringList{dir() + "libopencc-gone.so", "libz.so.1"}) {
        const TraditionalConverter broken(library);
        EXPECT_EQ(broken.convert(QStringLiteral("简体")), QStringLiteral("简体"));
        catalogue.setConverter(&broken);
        catalogue.setLanguage(TraditionalChineseName);
        EXPECT_EQ(catalogue.text("C_X"), QStringLiteral("简体")) << library.toStdString();
        EXPECT_TRUE(catalogue.conversionNotice().contains("OpenCC")) << library.toStdString();
        EXPECT_FALSE(broken.problem().isEmpty()) << library.toStdString();
        EXPECT_TRUE(catalogue.conversionNotice().contains(broken.problem()));
        // Only Traditional Chinese needs it.
        catalogue.setLanguage(SimplifiedChineseName);
        EXPECT_EQ(catalogue.conversionNotice(), "");
        catalogue.setConverter(nullptr);
    }
    // The program's own converter loads on demand.
    catalogue.setLanguage(TraditionalChineseName);
    EXPECT_EQ(catalogue.conversionNotice(), "");
    EXPECT_EQ(catalogue.text("C_X"), QStringLiteral("簡體"));
}

TEST_F(Language, ChineseNamesAreRecognisedOnlyWhenEqual)
{
    writeText(dir() + SimplifiedChineseName + ".LAG",
              QStringLiteral("[Translations]\r\nC_X=简体\r\n"));
    catalogue.setLanguage(TraditionalChineseName + " "); // not the name: its own (missing) file
    EXPECT_EQ(catalogue.text("C_X"), "");
}

TEST_F(Language, FontFollowsTheLanguage)
{
    catalogue.setLanguage(SimplifiedChineseName);
    EXPECT_EQ(catalogue.font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(catalogue.font().pointSize(), 9);
    catalogue.setLanguage(TraditionalChineseName);
    EXPECT_EQ(catalogue.font().pointSize(), 9);
    catalogue.setLanguage("English");
    EXPECT_EQ(catalogue.font().family(), "MS Sans Serif");
    EXPECT_EQ(catalogue.font().pointSize(), 8);
}

TEST_F(Language, LanguagesAreEveryLagEntryThenTraditionalChinese)
{
    EXPECT_EQ(catalogue.languages(), QStringList{TraditionalChineseName});

    ASSERT_TRUE(QDir().mkpath(dir() + "Folder.LAG")); // a folder of that name counts too
    for (const char* name : {"English.LAG", "a.b.LAG", "lower.lag", "English.LAG.bak", "Note.txt"})
        writeText(dir() + name, "[Translations]\n");
    QStringList list = catalogue.languages();
    ASSERT_FALSE(list.isEmpty());
    EXPECT_EQ(list.takeLast(), TraditionalChineseName);
    list.sort();
    EXPECT_EQ(list, (QStringList{"English", "Folder", "a.b"}));
}

TEST(LanguageSelection, TheLocalePicksAnOfferedLanguage)
{
    const QStringList offered = {"English", "简体中文", "Deutsch", "繁體中文"};
    const struct
    {
        const char* locale;
        const char* language;
    } cases[] = {
        {"zh_CN", "简体中文"},
        {"zh_SG", "简体中文"},
        {"zh_TW", "繁體中文"},
        {"zh_HK", "繁體中文"},
        {"zh_Hant_CN", "繁體中文"},
        {"de_AT", "Deutsch"},
        {"en_GB", "English"},
        {"fr_FR", ""},
        {"C", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LanguageForLocale(offered, QLocale(c.locale)), QString::fromUtf8(c.language))
            << c.locale;
    EXPECT_EQ(LanguageForLocale({"English"}, QLocale("zh_CN")), "");
}

TEST(LanguageSelection, FollowsTheStoredNameRegardlessOfCase)
{
    const QStringList list = {"English", SimplifiedChineseName, TraditionalChineseName};
    struct Case
    {
        QString stored;
        int index;
    };
    const Case cases[] = {
        {"English", 0},
        {"eNGLISH", 0},
        {"", 0},
        {SimplifiedChineseName, 1},
        {TraditionalChineseName, 2},
        {"Klingon", -1},
        {"English ", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LanguageListSelection(list, c.stored), c.index) << c.stored.toStdString();
    EXPECT_EQ(LanguageListSelection({}, ""), -1);
}

// The shipped files must answer every key the program looks up, each with a text.
TEST(LanguageTexts, TitlesLoseTheirAccelerators)
{
    const QList<std::pair<QString, QString>> cases = {
        {"复制到(&C)...", "复制到..."},
        {"移动到（&M）", "移动到"},
        {"&Copy to...", "Copy to..."},
        {"Save && Go", "Save & Go"},
        {"Tom && Jerry(&T)", "Tom & Jerry"},
        {"(&&)", "(&)"},
        {"Plain", "Plain"},
    };
    for (const auto& [caption, title] : cases)
        EXPECT_EQ(WithoutMnemonic(caption), title) << caption.toStdString();
}

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
    const QStringList folders = {"app",      "capture", "capture/chromium", "dialogs", "lang",
                                 "platform", "store"};
    for (const QString& folder : folders) {
        QDir dir(QStringLiteral(NIMBRIL_SOURCE_DIR "/") + folder);
        for (const QString& file : dir.entryList({"*.cpp", "*.h"}, QDir::Files)) {
            if (file.startsWith("LanguageKeys"))
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
