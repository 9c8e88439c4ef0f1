#include "Autostart.h"
#include "IniFile.h"
#include "MessageBox.h"
#include "Registry.h"
#include "TestFiles.h"
#include "u_Language.h"
#include "u_Setup.h"
#include "u_Store.h"

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
class Setup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        useProgramFolder("app");
        CurrentLanguage = "English";
        SavedLanguage.clear();
        MessageBox::StartRecording();
    }
    void TearDown() override { MessageBox::StopRecording(); }

    // Makes a program folder with the shipped language files, nb.ico and a Config.ini naming
    // English.
    void useProgramFolder(const QString& name)
    {
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(name));
        AppDir = m_dir.filePath(name) + "/";
        for (const char* file : {"English.LAG", "简体中文.LAG", "nb.ico"})
            ASSERT_TRUE(QFile::copy(kProgramDir + QString::fromUtf8(file),
                                    AppDir + QString::fromUtf8(file)))
                << file;
        ASSERT_TRUE(writeFile(ConfigFile(), "[CollectionDir]\r\nPath=/somewhere\r\n\r\n"
                                            "[Language]\r\nDefaultLanguage=English\r\n"));
    }

    SetupPlaces places() const
    {
        return {QString(), m_dir.filePath("autostart"), m_dir.filePath("bin/nimbril")};
    }
    QString registryFile() const { return AppDir + "registry.ini"; }
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
    QString autostartFile() const { return m_dir.filePath("autostart/nimbril.desktop"); }

    static void pick(TForm_Setup& form, const QString& language)
    {
        const int index = form.ComboBox1->findText(language);
        ASSERT_GE(index, 0) << language.toStdString();
        form.ComboBox1->setCurrentIndex(index);
        Q_EMIT form.ComboBox1->activated(index);
    }
    static QStringList entries(const TForm_Setup& form)
    {
        QStringList list;
        for (int i = 0; i < form.ComboBox1->count(); ++i)
            list << form.ComboBox1->itemText(i);
        return list;
    }
    static void okWith(TForm_Setup& form, bool toolButton, bool autoRun)
    {
        form.show();
        form.chk_AddToolButton->setChecked(toolButton);
        form.chk_AutoRun->setChecked(autoRun);
        form.btn_OK->click();
    }

    QTemporaryDir m_dir;
};

// ---- the language list ------------------------------------------------------------------------

TEST_F(Setup, LanguageListHasEveryLagEntryThenTraditionalChinese)
{
    const QString folder = m_dir.filePath("langs");
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(LanguageListEntries(folder), QStringList{TraditionalChineseName});

    ASSERT_TRUE(QDir().mkpath(folder + "/Folder.LAG")); // a folder of that name counts too

    for (const char* name : {"English.LAG", "a.b.LAG", "lower.lag", "English.LAG.bak", "Note.txt"})
        ASSERT_TRUE(writeFile(folder + "/" + name, "[Translations]\n"));
    QStringList list = LanguageListEntries(folder);
    ASSERT_FALSE(list.isEmpty());
    EXPECT_EQ(list.takeLast(), TraditionalChineseName);
    list.sort();
    EXPECT_EQ(list, (QStringList{"English", "Folder", "a.b"}));
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

TEST_F(Setup, WithoutLanguageFilesTheListHoldsTraditionalChineseAloneAndNothingIsSelected)
{
    QFile::remove(AppDir + "English.LAG");
    QFile::remove(AppDir + QStringLiteral("简体中文.LAG"));
    TForm_Setup form(nullptr, places());
    form.show();
    EXPECT_EQ(entries(form), QStringList{TraditionalChineseName});
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1); // Config.ini names English, which is gone
    EXPECT_EQ(CurrentLanguage, "English");
    EXPECT_EQ(form.windowTitle(), QString());
    EXPECT_EQ(form.btn_OK->text(), QString());
}

TEST_F(Setup, ShowingSelectsTheStoredLanguageWithoutChangingTheCurrentOne)
{
    ASSERT_TRUE(writeFile(ConfigFile(), "[Language]\r\nDefaultLanguage=english\r\n"));
    CurrentLanguage = SimplifiedChineseName;
    TForm_Setup form(nullptr, places());
    form.show();
    EXPECT_EQ(form.ComboBox1->currentText(), "English");
    EXPECT_EQ(CurrentLanguage, SimplifiedChineseName);
    EXPECT_EQ(SavedLanguage, SimplifiedChineseName);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("设置")); // the current language, not the stored

    ASSERT_TRUE(writeFile(ConfigFile(), "[Language]\r\n"));
    form.reject();
    form.show();
    EXPECT_EQ(form.ComboBox1->currentIndex(), 0);
}

// ---- texts and font ----------------------------------------------------------------------------

TEST_F(Setup, TextsComeFromTheLanguageFileAndTheButtonsUseUnprefixedKeys)
{
    ASSERT_TRUE(writeFile(AppDir + "Custom.LAG", "[Translations]\n"
                                                 "Form_Setup.Caption=Custom setup\n"
                                                 "Form_Setup.gb_Language.Caption=Tongue\n"
                                                 "form_setup.lbl_selectlanguage.caption=&Pick\n"
                                                 "Form_Setup.gb_RunOptions.Caption=Options\n"
                                                 "Form_Setup.chk_AddToolButton.Caption=Button\n"
                                                 "Form_Setup.btn_OK.Caption=Wrong\n"
                                                 "btn_OK.Caption=Right\n"
                                                 "btn_Cancel.Caption=Back\n"));
    CurrentLanguage = "Custom";
    TForm_Setup form(nullptr, places());
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
    TForm_Setup form(nullptr, places());
    form.show();
    EXPECT_EQ(form.windowTitle(), "Setup");
    EXPECT_EQ(form.btn_OK->text(), "&OK");
    EXPECT_EQ(form.gb_Language->font().pointSize(), 8);
    EXPECT_EQ(form.lbl_SelectLanguage->font().pointSize(), 8);

    pick(form, SimplifiedChineseName);
    EXPECT_EQ(CurrentLanguage, SimplifiedChineseName);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("设置"));
    EXPECT_EQ(form.btn_Cancel->text(), QStringLiteral("取消"));
    EXPECT_EQ(form.gb_Language->font().pointSize(), 9);
    EXPECT_EQ(form.lbl_SelectLanguage->font().pointSize(), 9);
    EXPECT_EQ(form.lbl_SelectLanguage->font().family(), QStringLiteral("宋体"));

    pick(form, TraditionalChineseName);
    EXPECT_EQ(CurrentLanguage, TraditionalChineseName);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("設置"));
    EXPECT_EQ(form.gb_Language->font().pointSize(), 9);
    form.reject();
}

// ---- closing
// -------------------------------------------------------------------------------------

TEST_F(Setup, CancelAndTheCloseBoxRestoreTheLanguageAndWriteNothing)
{
    const QByteArray config = readFile(ConfigFile());
    TForm_Setup form(nullptr, places());
    for (int way = 0; way < 2; ++way) {
        form.show();
        form.chk_AddToolButton->setChecked(true);
        form.chk_AutoRun->setChecked(true);
        pick(form, SimplifiedChineseName);
        ASSERT_EQ(CurrentLanguage, SimplifiedChineseName);
        if (way == 0)
            form.btn_Cancel->click();
        else
            form.close();
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.result(), QDialog::Rejected);
        EXPECT_EQ(CurrentLanguage, "English") << way;
        EXPECT_EQ(readFile(ConfigFile()), config) << way;
        EXPECT_FALSE(QFile::exists(registryFile())) << way;
        EXPECT_FALSE(QFile::exists(autostartFile())) << way;
    }
    EXPECT_TRUE(MessageBox::Recorded().isEmpty());
}

TEST_F(Setup, OkWritesTheLanguageEvenWhenNoneWasPicked)
{
    ASSERT_TRUE(writeFile(ConfigFile(), "[CollectionDir]\r\nPath=/kept\r\n\r\n"
                                        "[Language]\r\nDefaultLanguage=english\r\n"));
    TForm_Setup form(nullptr, places());
    okWith(form, false, false);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(readFile(ConfigFile()), "[CollectionDir]\r\nPath=/kept\r\n\r\n"
                                      "[Language]\r\nDefaultLanguage=English\r\n");

    form.show();
    pick(form, SimplifiedChineseName);
    form.btn_OK->click();
    EXPECT_EQ(ReadLanguage(), SimplifiedChineseName);
    EXPECT_EQ(CurrentLanguage, SimplifiedChineseName);
}

TEST_F(Setup, AConfigFileThatCannotBeWrittenIsReportedAndTheDialogStillCloses)
{
    ASSERT_TRUE(QFile::remove(ConfigFile()));
    ASSERT_TRUE(QDir().mkpath(ConfigFile())); // a folder in its place
    TForm_Setup form(nullptr, places());
    form.show();
    pick(form, SimplifiedChineseName);
    form.btn_OK->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(CurrentLanguage, SimplifiedChineseName);
    EXPECT_EQ(MessageBox::Recorded(), QStringList{"error: Unable to write to " + ConfigFile()});
}

// ---- run options
// ---------------------------------------------------------------------------------

TEST_F(Setup, BothTickedWritesTheEntriesAndBothClearedRemovesThem)
{
    TForm_Setup form(nullptr, places());
    form.show();
    EXPECT_FALSE(form.chk_AddToolButton->isChecked());
    EXPECT_FALSE(form.chk_AutoRun->isChecked());
    form.reject();

    for (int round = 0; round < 2; ++round) { // the second round overwrites the first
        okWith(form, true, true);
        const QString exe = m_dir.filePath("bin/nimbril");
        const QByteArray expected = "[SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\"
                                    "{5E0C3A71-6B2D-4C98-A1F4-2D7B9E60C835}]\r\n"
                                    "ButtonText=Nimbril\r\n"
                                    "CLSID={1FBA04EE-3024-11D2-8F1F-0000F87ABD16}\r\n"
                                    "Default Visible=yes\r\n"
                                    "Exec=" +
                                    exe.toUtf8() + "\r\nHotIcon=" + AppDir.toUtf8() +
                                    "nb.ico\r\nIcon=" + AppDir.toUtf8() + "nb.ico\r\n";
        EXPECT_TRUE(readFile(registryFile()).contains(expected)) << readFile(registryFile()).data();
        EXPECT_EQ(startupValue(), exe);
        EXPECT_TRUE(AutostartEntry(m_dir.filePath("autostart")).StartsProgram(exe));

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
    EXPECT_TRUE(MessageBox::Recorded().isEmpty());
}

TEST_F(Setup, BackslashesAreDoubledInTheButtonKeyOnly)
{
    EXPECT_EQ(DoubleBackslashes("C:\\Apps\\tool.exe"), "C:\\\\Apps\\\\tool.exe");
    EXPECT_EQ(DoubleBackslashes("\\\\"), "\\\\\\\\");
    EXPECT_EQ(DoubleBackslashes("/usr/bin/nimbril"), "/usr/bin/nimbril");

    useProgramFolder("odd\\folder");
    SetupPlaces odd = places();
    odd.executable = m_dir.filePath("odd\\folder/nimbril");
    TForm_Setup form(nullptr, odd);
    okWith(form, true, true);

    const RegistryKey key = toolButtonKey();
    ASSERT_TRUE(key.isOpen());
    EXPECT_EQ(key.ReadString("Exec"), m_dir.filePath("odd\\\\folder/nimbril"));
    EXPECT_EQ(key.ReadString("HotIcon"), m_dir.filePath("odd\\\\folder/nb.ico"));
    EXPECT_EQ(key.ReadString("Icon"), key.ReadString("HotIcon"));
    EXPECT_EQ(startupValue(), odd.executable);
    EXPECT_TRUE(AutostartEntry(odd.autostartFolder).StartsProgram(odd.executable));
}

TEST_F(Setup, WithoutTheIconNoButtonKeyIsWritten)
{
    ASSERT_TRUE(QFile::remove(AppDir + "nb.ico"));
    ASSERT_TRUE(QDir().mkpath(AppDir + "nb.ico")); // a folder of that name is no icon
    TForm_Setup form(nullptr, places());
    okWith(form, true, false);
    EXPECT_FALSE(toolButtonKey().isOpen());
    form.show();
    EXPECT_FALSE(form.chk_AddToolButton->isChecked());
    form.reject();
    EXPECT_TRUE(MessageBox::Recorded().isEmpty());
}

TEST_F(Setup, ALanguageWithoutTheProductNameGivesAnEmptyButtonText)
{
    ASSERT_TRUE(writeFile(AppDir + "Bare.LAG", "[Translations]\nbtn_OK.Caption=OK\n"));
    CurrentLanguage = "Bare";
    TForm_Setup form(nullptr, places());
    okWith(form, true, false);
    const RegistryKey key = toolButtonKey();
    ASSERT_TRUE(key.isOpen());
    EXPECT_TRUE(readFile(registryFile()).contains("\r\nButtonText=\r\nCLSID="));
    EXPECT_EQ(ReadLanguage(), "Bare");
}

TEST_F(Setup, ARegistryThatCannotBeWrittenChangesNothingThereSilently)
{
    ASSERT_TRUE(QDir().mkpath(registryFile())); // a folder where the file should be
    TForm_Setup form(nullptr, places());
    okWith(form, true, true);
    EXPECT_TRUE(MessageBox::Recorded().isEmpty());
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
    const QString exe = m_dir.filePath("bin/nimbril");
    const AutostartEntry entry(m_dir.filePath("autostart"));
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
    ASSERT_TRUE(entry.Enable(m_dir.filePath("old/nimbril")));
    EXPECT_FALSE(shell.ReadRunOptions().autoRun());

    TForm_Setup form(nullptr, places());
    form.show();
    EXPECT_FALSE(form.chk_AutoRun->isChecked());
    form.btn_OK->click(); // cleared: the stale entry goes
    EXPECT_FALSE(QFile::exists(autostartFile()));
}

TEST_F(Setup, EachShowingRebuildsTheListAndRemembersTheLanguageAnew)
{
    TForm_Setup form(nullptr, places());
    form.show();
    EXPECT_EQ(entries(form).size(), 3);
    EXPECT_EQ(entries(form).last(), TraditionalChineseName);
    form.reject();

    ASSERT_TRUE(writeFile(AppDir + "Deutsch.LAG", "[Translations]\n"));
    CurrentLanguage = SimplifiedChineseName;
    form.show();
    EXPECT_EQ(entries(form).size(), 4);
    EXPECT_TRUE(entries(form).contains("Deutsch"));
    EXPECT_EQ(SavedLanguage, SimplifiedChineseName);
    pick(form, "Deutsch");
    form.reject();
    EXPECT_EQ(CurrentLanguage, SimplifiedChineseName);
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
