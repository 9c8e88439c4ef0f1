#include "AppContext.h"
#include "CollectionViewer.h"
#include "ColorPicker.h"
#include "EMailDialog.h"
#include "Errors.h"
#include "SetupDialog.h"
#include "TestContext.h"
#include "TestFiles.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

TEST(Prompts, DefaultSuffixGoesOnlyToNamesWithoutExtension)
{
    EXPECT_EQ(WithDefaultSuffix("/t/pal", "col"), "/t/pal.col");
    EXPECT_EQ(WithDefaultSuffix("/t/pal.txt", "col"), "/t/pal.txt");
    EXPECT_EQ(WithDefaultSuffix("/t.d/pal", "col"), "/t.d/pal.col");
    EXPECT_EQ(WithDefaultSuffix("/t/pal", ""), "/t/pal");
}

// One scripted seam answers every kind of question in turn, opens nothing and records what was
// asked.
TEST(Prompts, ScriptedAnswersAreTakenInOrderAndRunOutAsCancel)
{
    QTemporaryDir tmp;
    LanguageCatalogue language(tmp.path());
    Prompts prompts(language);

    prompts.setNextFileNames({"/t/a", "", "/t/b.col"});
    EXPECT_EQ(prompts.saveFileName(nullptr, {}, "/dir", {}, "col"), "/t/a.col");
    EXPECT_EQ(prompts.openFileName(nullptr, {}, "/dir2", {}, "col"), "");
    EXPECT_EQ(prompts.openFileName(nullptr, {}, "/dir3", {}), "/t/b.col");
    EXPECT_EQ(prompts.openFileName(nullptr, {}, "/dir4", {}), "");
    EXPECT_EQ(prompts.fileQuestions(),
              QStringList({"save: /dir", "open: /dir2", "open: /dir3", "open: /dir4"}));

    prompts.setNextAnswers({Prompts::Answer::No, Prompts::Answer::Yes});
    EXPECT_EQ(prompts.askYesNoCancel(nullptr, "first?"), Prompts::Answer::No);
    EXPECT_EQ(prompts.askYesNoCancel(nullptr, "second?"), Prompts::Answer::Yes);
    EXPECT_EQ(prompts.askYesNoCancel(nullptr, "third?"), Prompts::Answer::Cancel);
    prompts.warning(nullptr, "careful");
    EXPECT_EQ(prompts.shown(), QStringList({"question: first?", "question: second?",
                                            "question: third?", "warning: careful"}));

    // A typed relative folder is made below the start folder; nothing typed cancels.
    const QString start = tmp.filePath("start");
    ASSERT_TRUE(QDir().mkpath(start));
    prompts.setNextFolders({QStringLiteral("new/sub"), std::nullopt});
    EXPECT_EQ(prompts.chooseFolder(nullptr, {}, start), start + "/new/sub");
    EXPECT_TRUE(QDir(start + "/new/sub").exists());
    EXPECT_EQ(prompts.chooseFolder(nullptr, {}, start), std::nullopt);
    EXPECT_EQ(prompts.chooseFolder(nullptr, {}, tmp.path()), std::nullopt);
    EXPECT_EQ(prompts.folderStarts(), QStringList({start, start, tmp.path()}));
}

// Questions are centred over an ordinary window of ours on the screen, else on the screen: never
// over the floating window's small tool window at the screen's edge.
TEST(Prompts, QuestionsAreCentredOverOrdinaryWindowsOnly)
{
    QWidget tool(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    auto* toolButton = new QWidget(&tool);
    tool.show();
    EXPECT_EQ(DialogOwner(toolButton), nullptr);
    EXPECT_EQ(DialogOwner(nullptr), nullptr);

    QDialog dialog;
    auto* list = new QWidget(&dialog);
    EXPECT_EQ(DialogOwner(list), nullptr); // not on the screen yet
    dialog.show();
    EXPECT_EQ(DialogOwner(list), &dialog);
}

// Start-up: the first run makes the collection and Config.ini; a program folder that cannot take
// Config.ini is reported, and the program goes on without a language.
TEST(AppContext, LoadSettingsMakesTheFirstRunOrReadsConfig)
{
    QTemporaryDir tmp;
    NullDesktop desktop;
    ShellOpener shell;
    const QString home = tmp.filePath("home");
    AppContext context(Paths::ForProgram(tmp.filePath("app"), home), desktop, shell);
    ASSERT_TRUE(QDir().mkpath(context.paths().programDir));
    ASSERT_TRUE(writeText(context.paths().programDir + "English.LAG",
                          "[Translations]\r\nC_CloseIE=Close them?\r\n"));

    context.LoadSettings(home);
    EXPECT_EQ(context.paths().collectionRoot, home + "/NimbrilApp/");
    EXPECT_TRUE(QDir(home + "/NimbrilApp/EMail").exists());
    EXPECT_EQ(context.language().language(), "English");
    EXPECT_EQ(context.language().text("C_CloseIE"), "Close them?");

    // A first run in a Chinese locale starts in Chinese when the program offers it; a later run
    // keeps what Config.ini says, whatever the locale.
    const QString home2 = tmp.filePath("home2");
    AppContext chinese(Paths::ForProgram(tmp.filePath("app2"), home2), desktop, shell);
    ASSERT_TRUE(QDir().mkpath(chinese.paths().programDir));
    ASSERT_TRUE(writeText(chinese.paths().programDir + "English.LAG", "[Translations]\r\n"));
    ASSERT_TRUE(writeText(chinese.paths().programDir + "简体中文.LAG", "[Translations]\r\n"));
    chinese.LoadSettings(home2, QLocale("zh_TW"));
    EXPECT_EQ(chinese.language().language(), "繁體中文");
    chinese.settings().setLanguage("English");
    chinese.LoadSettings(home2, QLocale("zh_CN"));
    EXPECT_EQ(chinese.language().language(), "English");

    AppContext unwritable(Paths::ForProgram(tmp.filePath("missing"), home), desktop, shell);
    EXPECT_THROW(unwritable.LoadSettings(home), IniWriteError);
    // Nothing is collected into the file system's root for want of a Config.ini.
    EXPECT_EQ(unwritable.paths().collectionRoot, home + "/NimbrilApp/");
    EXPECT_FALSE(unwritable.collectionNotice().isEmpty());
    EXPECT_EQ(unwritable.language().language(), "");
}

// Qt's own buttons and dialogs follow the chosen language: Chinese loads Qt's Chinese texts
// (Simplified or Traditional), and going back to English drops them again.
TEST(AppContext, QtsOwnTextsFollowTheLanguage)
{
    QTemporaryDir tmp;
    NullDesktop desktop;
    ShellOpener shell;
    AppContext context(Paths::ForProgram(tmp.path(), tmp.path()), desktop, shell);
    const auto yes = [] { return QCoreApplication::translate("QPlatformTheme", "&Yes"); };
    ASSERT_EQ(yes(), "&Yes");
    context.language().setLanguage("简体中文");
    if (!context.qtTranslated())
        GTEST_SKIP() << "Qt's translations are not installed (qt6-translations-l10n)";
    EXPECT_EQ(yes(), "是(&Y)");
    context.language().setLanguage("繁體中文");
    EXPECT_TRUE(context.qtTranslated());
    EXPECT_NE(yes(), "&Yes");
    context.language().setLanguage("English");
    EXPECT_EQ(yes(), "&Yes");
}

// Text and background of a widget differ enough in lightness to be read.
bool Readable(const QWidget* w)
{
    const QPalette& pal = w->palette();
    return qAbs(pal.color(w->backgroundRole()).lightnessF() -
                pal.color(w->foregroundRole()).lightnessF()) > 0.5;
}

// Under a dark theme's palette every window keeps light text on a dark face, and where a colour
// of ours stays (the picker's help band) the text on it is ours too.
class DarkTheme : public ContextTest
{
protected:
    void SetUp() override
    {
        m_saved = QApplication::palette();
        QPalette dark(QColor(53, 53, 53));
        dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
        dark.setColor(QPalette::Text, QColor(235, 235, 235));
        dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
        QApplication::setPalette(dark);
        useEnglish();
    }
    void TearDown() override { QApplication::setPalette(m_saved); }

private:
    QPalette m_saved;
};

TEST_F(DarkTheme, EveryWindowIsReadable)
{
    QString paletteFile;
    EMailDialog email(context());
    ColorPicker picker(context(), paletteFile);
    SetupDialog setup(context());
    CollectionViewer viewer(context());
    for (const QWidget* w :
         std::initializer_list<const QWidget*>{&email, &picker, &setup, &viewer}) {
        EXPECT_TRUE(Readable(w)) << w->objectName().toStdString();
        EXPECT_LT(w->palette().color(QPalette::Window).lightnessF(), 0.5)
            << w->objectName().toStdString();
    }
    EXPECT_LT(picker.lbl_Help->palette().color(QPalette::WindowText).lightnessF(), 0.2);
}

} // namespace
