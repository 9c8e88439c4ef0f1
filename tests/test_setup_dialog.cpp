#include "Autostart.h"
#include "IniFile.h"
#include "Registry.h"
#include "SetupDialog.h"
#include "TestContext.h"
#include "TestFiles.h"
#include "TraditionalConverter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

const QString kProgramDir = QStringLiteral(NIMBRIL_PROGRAM_DIR "/");

// The program folder, registry, autostart folder and executable of each test live in its own
// temporary folder; message boxes are recorded, never shown.
class Setup : public ContextTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        useProgramFolder("app");
        language().setLanguage("English");
    }

    // Makes a program folder with the shipped language files, nb.ico and a Config.ini naming
    // English.
    void useProgramFolder(const QString& name)
    {
        ASSERT_TRUE(QDir(tmp.path()).mkpath(name));
        paths().programDir = tmp.filePath(name) + "/";
        for (const char* file : {"English.LAG", "简体中文.LAG", "nb.ico"})
            ASSERT_TRUE(QFile::copy(kProgramDir + QString::fromUtf8(file),
                                    paths().programDir + QString::fromUtf8(file)))
                << file;
        ASSERT_TRUE(writeFile(paths().configFile(), "[CollectionDir]\r\nPath=/somewhere\r\n\r\n"
                                                    "[Language]\r\nDefaultLanguage=English\r\n"));
    }

    SetupPlaces places() const
    {
        return {paths().programDir, registryFile(), tmp.filePath("autostart"),
                tmp.filePath("bin/nimbril"), tmp.filePath("applications")};
    }
    QString registryFile() const { return paths().programDir + "registry.ini"; }
    RegistryKey toolButtonKey() const
    {
        return Registry(registryFile()).OpenKey(SetupShell::ToolButtonKey, false);
    }
    QString startupValue() const
    {
        return Registry(registryFile())
            .OpenKey(SetupShell::RunKey, false)
            .ReadString(SetupShell::RunValueName);
    }
    QString autostartFile() const { return tmp.filePath("autostart/nimbril.desktop"); }

    static void pick(SetupDialog& form, const QString& language)
    {
        const int index = form.cb_Language->findText(language);
        ASSERT_GE(index, 0) << language.toStdString();
        form.cb_Language->setCurrentIndex(index);
        Q_EMIT form.cb_Language->activated(index);
    }
    static QStringList entries(const SetupDialog& form)
    {
        QStringList list;
        for (int i = 0; i < form.cb_Language->count(); ++i)
            list << form.cb_Language->itemText(i);
        return list;
    }
    static void okWith(SetupDialog& form, bool toolButton, bool autoRun)
    {
        form.show();
        form.chk_AddToolButton->setChecked(toolButton);
        form.chk_AutoRun->setChecked(autoRun);
        form.btn_OK->click();
    }
};

// ---- the language list ------------------------------------------------------------------------

TEST_F(Setup, WithoutLanguageFilesTheListHoldsTraditionalChineseAloneAndNothingIsSelected)
{
    QFile::remove(paths().programDir + "English.LAG");
    QFile::remove(paths().programDir + QStringLiteral("简体中文.LAG"));
    language().setLanguage("English");
    SetupDialog form(context(), nullptr, places());
    form.show();
    EXPECT_EQ(entries(form), QStringList{TraditionalChineseName});
    EXPECT_EQ(form.cb_Language->currentIndex(), -1); // Config.ini names English, which is gone
    EXPECT_EQ(language().language(), "English");
    EXPECT_EQ(form.windowTitle(), QString());
    EXPECT_EQ(form.btn_OK->text(), QString());
}

TEST_F(Setup, ShowingSelectsTheStoredLanguageWithoutChangingTheCurrentOne)
{
    ASSERT_TRUE(writeFile(paths().configFile(), "[Language]\r\nDefaultLanguage=english\r\n"));
    language().setLanguage(SimplifiedChineseName);
    SetupDialog form(context(), nullptr, places());
    form.show();
    EXPECT_EQ(form.cb_Language->currentText(), "English");
    EXPECT_EQ(language().language(), SimplifiedChineseName);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("设置")); // the current language, not the stored

    ASSERT_TRUE(writeFile(paths().configFile(), "[Language]\r\n"));
    form.reject();
    form.show();
    EXPECT_EQ(form.cb_Language->currentIndex(), 0);
}

// ---- texts and font ----------------------------------------------------------------------------

TEST_F(Setup, TextsComeFromTheLanguageFileAndTheButtonsUseUnprefixedKeys)
{
    ASSERT_TRUE(writeFile(paths().programDir + "Custom.LAG",
                          "[Translations]\n"
                          "Form_Setup.Caption=Custom setup\n"
                          "Form_Setup.gb_Language.Caption=Tongue\n"
                          "form_setup.lbl_selectlanguage.caption=&Pick\n"
                          "Form_Setup.gb_RunOptions.Caption=Options\n"
                          "Form_Setup.chk_AddToolButton.Caption=Button\n"
                          "Form_Setup.btn_OK.Caption=Wrong\n"
                          "btn_OK.Caption=Right\n"
                          "btn_Cancel.Caption=Back\n"));
    language().setLanguage("Custom");
    SetupDialog form(context(), nullptr, places());
    form.show();
    EXPECT_EQ(form.windowTitle(), "Custom setup");
    EXPECT_EQ(form.gb_Language->title(), "Tongue");
    EXPECT_EQ(form.lbl_SelectLanguage->text(), "&Pick");
    EXPECT_EQ(form.gb_RunOptions->title(), "Options");
    EXPECT_EQ(form.chk_AddToolButton->text(), "Button");
    EXPECT_EQ(form.chk_AutoRun->text(), QString()); // missing key: the design caption goes too
    EXPECT_EQ(form.btn_OK->text(), "Right");
    EXPECT_EQ(form.btn_Cancel->text(), "Back");
}

TEST_F(Setup, PickingALanguageAppliesItAtOnceWithItsFont)
{
    SetupDialog form(context(), nullptr, places());
    form.show();
    EXPECT_EQ(form.windowTitle(), "Setup");
    EXPECT_EQ(form.btn_OK->text(), "&OK");
    EXPECT_EQ(form.gb_Language->font().pointSize(), 8);
    EXPECT_EQ(form.lbl_SelectLanguage->font().pointSize(), 8);

    pick(form, SimplifiedChineseName);
    EXPECT_EQ(language().language(), SimplifiedChineseName);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("设置"));
    EXPECT_EQ(form.btn_Cancel->text(), QStringLiteral("取消"));
    EXPECT_EQ(form.gb_Language->font().pointSize(), 9);
    EXPECT_EQ(form.lbl_SelectLanguage->font().pointSize(), 9);
    EXPECT_EQ(form.lbl_SelectLanguage->font().family(), QStringLiteral("宋体"));

    pick(form, TraditionalChineseName);
    EXPECT_EQ(language().language(), TraditionalChineseName);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("設定"));
    EXPECT_EQ(form.gb_Language->font().pointSize(), 9);
    form.reject();
}

TEST_F(Setup, PickingTraditionalChineseWithoutItsConverterSaysSo)
{
    const TraditionalConverter missing(tmp.filePath("libopencc-gone.so"));
    language().setConverter(&missing);
    SetupDialog form(context(), nullptr, places());
    form.show();
    pick(form, SimplifiedChineseName);
    EXPECT_TRUE(prompts().shown().isEmpty());
    pick(form, TraditionalChineseName);
    // The Simplified Chinese texts stand in, and the user is told why.
    EXPECT_EQ(form.windowTitle(), QStringLiteral("设置"));
    ASSERT_EQ(prompts().shown().size(), 1);
    EXPECT_TRUE(prompts().shown().first().startsWith("warning: "));
    EXPECT_TRUE(prompts().shown().first().contains(missing.problem()));
    form.reject();
    language().setConverter(nullptr);
}

// ---- closing
// -------------------------------------------------------------------------------------

TEST_F(Setup, CancelAndTheCloseBoxRestoreTheLanguageAndWriteNothing)
{
    const QByteArray config = readFile(paths().configFile());
    SetupDialog form(context(), nullptr, places());
    for (int way = 0; way < 2; ++way) {
        form.show();
        form.chk_AddToolButton->setChecked(true);
        form.chk_AutoRun->setChecked(true);
        pick(form, SimplifiedChineseName);
        ASSERT_EQ(language().language(), SimplifiedChineseName);
        if (way == 0)
            form.btn_Cancel->click();
        else
            form.close();
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.result(), QDialog::Rejected);
        EXPECT_EQ(language().language(), "English") << way;
        EXPECT_EQ(readFile(paths().configFile()), config) << way;
        EXPECT_FALSE(QFile::exists(registryFile())) << way;
        EXPECT_FALSE(QFile::exists(autostartFile())) << way;
    }
    EXPECT_TRUE(prompts().shown().isEmpty());
}

TEST_F(Setup, OkWritesTheLanguageEvenWhenNoneWasPicked)
{
    ASSERT_TRUE(writeFile(paths().configFile(), "[CollectionDir]\r\nPath=/kept\r\n\r\n"
                                                "[Language]\r\nDefaultLanguage=english\r\n"));
    SetupDialog form(context(), nullptr, places());
    okWith(form, false, false);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(readFile(paths().configFile()), "[CollectionDir]\r\nPath=/kept\r\n\r\n"
                                              "[Language]\r\nDefaultLanguage=English\r\n");

    form.show();
    pick(form, SimplifiedChineseName);
    form.btn_OK->click();
    EXPECT_EQ(context().settings().language(), SimplifiedChineseName);
    EXPECT_EQ(language().language(), SimplifiedChineseName);
}

TEST_F(Setup, AConfigFileThatCannotBeWrittenIsReportedAndTheDialogStillCloses)
{
    ASSERT_TRUE(QFile::remove(paths().configFile()));
    ASSERT_TRUE(QDir().mkpath(paths().configFile())); // a folder in its place
    SetupDialog form(context(), nullptr, places());
    form.show();
    pick(form, SimplifiedChineseName);
    form.btn_OK->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(language().language(), SimplifiedChineseName);
    // Said in the language just picked.
    EXPECT_EQ(prompts().shown(), QStringList{"error: 无法写入 " + paths().configFile()});
}

TEST_F(Setup, ThePageSwitchesAreShownAsStoredAndWrittenOnlyOnOk)
{
    SetupDialog form(context(), nullptr, places());
    form.show();
    EXPECT_FALSE(form.chk_ClassicPages->isChecked());
    form.chk_ClassicPages->setChecked(true);
    form.btn_Cancel->click();
    EXPECT_FALSE(context().settings().classicPages());

    form.show();
    EXPECT_FALSE(form.chk_ClassicPages->isChecked());
    form.chk_ClassicPages->setChecked(true);
    form.btn_OK->click();
    EXPECT_TRUE(context().settings().classicPages());
    EXPECT_TRUE(readFile(paths().configFile()).contains("[WebPage]\r\nClassic=1\r\n"));

    form.show();
    EXPECT_TRUE(form.chk_ClassicPages->isChecked());
    form.chk_ClassicPages->setChecked(false);
    form.btn_OK->click();
    EXPECT_FALSE(context().settings().classicPages());

    // Keeping the scripts running is a switch of its own, beside it.
    form.show();
    EXPECT_FALSE(form.chk_KeepScripts->isChecked());
    form.chk_KeepScripts->setChecked(true);
    form.btn_OK->click();
    EXPECT_TRUE(context().settings().keepScripts());
    EXPECT_TRUE(readFile(paths().configFile()).contains("KeepScripts=1\r\n"));
    form.show();
    EXPECT_TRUE(form.chk_KeepScripts->isChecked());
    EXPECT_FALSE(form.chk_ClassicPages->isChecked());
}

// ---- run options
// ---------------------------------------------------------------------------------

TEST_F(Setup, BothTickedWritesTheEntriesAndBothClearedRemovesThem)
{
    SetupDialog form(context(), nullptr, places());
    form.show();
    EXPECT_FALSE(form.chk_AddToolButton->isChecked());
    EXPECT_FALSE(form.chk_AutoRun->isChecked());
    form.reject();

    for (int round = 0; round < 2; ++round) { // the second round overwrites the first
        okWith(form, true, true);
        const QString exe = tmp.filePath("bin/nimbril");
        const QByteArray expected = "[SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\"
                                    "{5E0C3A71-6B2D-4C98-A1F4-2D7B9E60C835}]\r\n"
                                    "ButtonText=Nimbril\r\n"
                                    "CLSID={1FBA04EE-3024-11D2-8F1F-0000F87ABD16}\r\n"
                                    "Default Visible=yes\r\n"
                                    "Exec=" +
                                    exe.toUtf8() + "\r\nHotIcon=" + paths().programDir.toUtf8() +
                                    "nb.ico\r\nIcon=" + paths().programDir.toUtf8() + "nb.ico\r\n";
        EXPECT_TRUE(readFile(registryFile()).contains(expected)) << readFile(registryFile()).data();
        EXPECT_EQ(startupValue(), exe);
        EXPECT_TRUE(AutostartEntry(tmp.filePath("autostart")).StartsProgram(exe));

        form.show();
        EXPECT_TRUE(form.chk_AddToolButton->isChecked());
        EXPECT_TRUE(form.chk_AutoRun->isChecked());
        form.reject();
    }

    okWith(form, false, false);
    EXPECT_FALSE(toolButtonKey().isOpen());
    EXPECT_FALSE(readFile(registryFile()).contains("Extensions"));
    EXPECT_EQ(startupValue(), QString());
    EXPECT_FALSE(QFile::exists(autostartFile()));
    form.show();
    EXPECT_FALSE(form.chk_AddToolButton->isChecked());
    EXPECT_FALSE(form.chk_AutoRun->isChecked());
    form.reject();
    EXPECT_TRUE(prompts().shown().isEmpty());
}

// The button's meaning on this desktop: a launcher whose actions run the capture program beside
// ours, named in the current language; it goes with the button.
TEST_F(Setup, TheButtonIsALauncherOfTheCaptureCommands)
{
    language().setLanguage(SimplifiedChineseName);
    SetupDialog form(context(), nullptr, places());
    okWith(form, true, false);
    const QString launcher = tmp.filePath("applications/nimbril-capture.desktop");
    const QString text = QString::fromUtf8(readFile(launcher));
    const QString capture = "\"" + tmp.filePath("bin/nimbril-capture") + "\"";
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\nType=Application\nName=Nimbril: 保存当前网页\n"
                                "Exec=" +
                                capture + " \"--scope\" \"current\" \"page\"\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("\nActions=SaveCurrentPage;SaveAllPages;SavePhoto;SaveMusic;"
                              "SaveFlash;SaveText;\n"));
    EXPECT_TRUE(text.contains("\n[Desktop Action SavePhoto]\nName=保存全部图片\nExec=" + capture +
                              " \"--scope\" \"all\" \"photo\"\n"))
        << text.toStdString();
    EXPECT_FALSE(text.contains('&'));

    okWith(form, false, false);
    EXPECT_FALSE(QFile::exists(launcher));
}

TEST_F(Setup, BackslashesAreDoubledInTheButtonKeyOnly)
{
    EXPECT_EQ(DoubleBackslashes("C:\\Apps\\tool.exe"), "C:\\\\Apps\\\\tool.exe");
    EXPECT_EQ(DoubleBackslashes("\\\\"), "\\\\\\\\");
    EXPECT_EQ(DoubleBackslashes("/usr/bin/nimbril"), "/usr/bin/nimbril");

    useProgramFolder("odd\\folder");
    SetupPlaces odd = places();
    odd.executable = tmp.filePath("odd\\folder/nimbril");
    SetupDialog form(context(), nullptr, odd);
    okWith(form, true, true);

    const RegistryKey key = toolButtonKey();
    ASSERT_TRUE(key.isOpen());
    EXPECT_EQ(key.ReadString("Exec"), tmp.filePath("odd\\\\folder/nimbril"));
    EXPECT_EQ(key.ReadString("HotIcon"), tmp.filePath("odd\\\\folder/nb.ico"));
    EXPECT_EQ(key.ReadString("Icon"), key.ReadString("HotIcon"));
    EXPECT_EQ(startupValue(), odd.executable);
    EXPECT_TRUE(AutostartEntry(odd.autostartFolder).StartsProgram(odd.executable));
}

TEST_F(Setup, WithoutTheIconNoButtonKeyIsWritten)
{
    ASSERT_TRUE(QFile::remove(paths().programDir + "nb.ico"));
    ASSERT_TRUE(QDir().mkpath(paths().programDir + "nb.ico")); // a folder of that name is no icon
    SetupDialog form(context(), nullptr, places());
    okWith(form, true, false);
    EXPECT_FALSE(toolButtonKey().isOpen());
    form.show();
    EXPECT_FALSE(form.chk_AddToolButton->isChecked());
    form.reject();
    EXPECT_TRUE(prompts().shown().isEmpty());
}

TEST_F(Setup, ALanguageWithoutTheProductNameGivesAnEmptyButtonText)
{
    ASSERT_TRUE(writeFile(paths().programDir + "Bare.LAG", "[Translations]\nbtn_OK.Caption=OK\n"));
    language().setLanguage("Bare");
    SetupDialog form(context(), nullptr, places());
    okWith(form, true, false);
    const RegistryKey key = toolButtonKey();
    ASSERT_TRUE(key.isOpen());
    EXPECT_TRUE(readFile(registryFile()).contains("\r\nButtonText=\r\nCLSID="));
    EXPECT_EQ(context().settings().language(), "Bare");
}

TEST_F(Setup, ARegistryThatCannotBeWrittenChangesNothingThereSilently)
{
    ASSERT_TRUE(QDir().mkpath(registryFile())); // a folder where the file should be
    SetupDialog form(context(), nullptr, places());
    okWith(form, true, true);
    EXPECT_TRUE(prompts().shown().isEmpty());
    EXPECT_TRUE(QFileInfo(registryFile()).isDir());
    // The autostart entry is the user's own and is still written.
    EXPECT_TRUE(QFile::exists(autostartFile()));

    form.show();
    EXPECT_FALSE(form.chk_AddToolButton->isChecked());
    EXPECT_TRUE(form.chk_AutoRun->isChecked());
    form.reject();
}

TEST_F(Setup, AutoRunShowsWhetherTheAutostartEntryReallyStartsThisProgram)
{
    const QString exe = tmp.filePath("bin/nimbril");
    const AutostartEntry entry(tmp.filePath("autostart"));
    const SetupShell shell(places());

    // The start-up value alone starts nothing.
    ASSERT_TRUE(Registry(registryFile())
                    .OpenKey(SetupShell::RunKey, false)
                    .WriteString(SetupShell::RunValueName, exe));
    SetupShell::RunOptions options = shell.ReadRunOptions();
    EXPECT_TRUE(options.startupValue);
    EXPECT_FALSE(options.autoRun());

    // The entry alone does.
    ASSERT_TRUE(Registry(registryFile()).DeleteKey(SetupShell::RunKey));
    ASSERT_TRUE(entry.Enable(exe));
    options = shell.ReadRunOptions();
    EXPECT_FALSE(options.startupValue);
    EXPECT_TRUE(options.autoRun());

    // An entry left by a program elsewhere does not start this one.
    ASSERT_TRUE(entry.Enable(tmp.filePath("old/nimbril")));
    EXPECT_FALSE(shell.ReadRunOptions().autoRun());

    SetupDialog form(context(), nullptr, places());
    form.show();
    EXPECT_FALSE(form.chk_AutoRun->isChecked());
    form.btn_OK->click(); // cleared: the stale entry goes
    EXPECT_FALSE(QFile::exists(autostartFile()));
}

TEST_F(Setup, EachShowingRebuildsTheListAndRemembersTheLanguageAnew)
{
    SetupDialog form(context(), nullptr, places());
    form.show();
    EXPECT_EQ(entries(form).size(), 3);
    EXPECT_EQ(entries(form).last(), TraditionalChineseName);
    form.reject();

    ASSERT_TRUE(writeFile(paths().programDir + "Deutsch.LAG", "[Translations]\n"));
    language().setLanguage(SimplifiedChineseName);
    form.show();
    EXPECT_EQ(entries(form).size(), 4);
    EXPECT_TRUE(entries(form).contains("Deutsch"));
    pick(form, "Deutsch");
    form.reject();
    EXPECT_EQ(language().language(), SimplifiedChineseName);
}

TEST(ShippedIcon, IsAnIconFileWithSmallAndLargeImages)
{
    QImageReader reader(kProgramDir + "nb.ico");
    ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
    EXPECT_EQ(reader.format(), "ico");
    QList<int> widths;
    for (int i = 0; i < reader.imageCount(); ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(image.hasAlphaChannel());
        widths << image.width();
    }
    std::sort(widths.begin(), widths.end());
    EXPECT_EQ(widths, (QList<int>{16, 32}));
}

} // namespace
