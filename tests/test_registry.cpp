#include "Autostart.h"
#include "Registry.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const QString kRun = QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\");
const QString kThing = QStringLiteral("\\SOFTWARE\\Vendor\\Thing");

class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString file() const { return m_dir.filePath("registry.ini"); }
    QTemporaryDir m_dir;
};

TEST_F(RegistryTest, EmptyRegistryHasTheSystemKeysOnlyAndOpeningWritesNothing)
{
    const Registry reg(file());
    EXPECT_TRUE(reg.OpenKey(kRun, false).isOpen());
    EXPECT_TRUE(reg.OpenKey("SOFTWARE\\Microsoft", false).isOpen()); // a parent of a system key
    EXPECT_FALSE(reg.OpenKey(kThing, false).isOpen());
    EXPECT_FALSE(
        reg.OpenKey("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Runner", false).isOpen());
    EXPECT_FALSE(QFile::exists(file()));

    RegistryKey run = reg.OpenKey(kRun, false);
    EXPECT_EQ(run.ReadString("NimbrilApp"), QString());
    EXPECT_TRUE(run.DeleteValue("NimbrilApp"));
    EXPECT_FALSE(QFile::exists(file()));
}

TEST_F(RegistryTest, CreatedKeyIsASectionFoundUnderAnySpellingOfItsPath)
{
    const Registry reg(file());
    ASSERT_TRUE(reg.OpenKey(kThing, true).isOpen());
    EXPECT_EQ(readFile(file()), "[SOFTWARE\\Vendor\\Thing]\r\n");

    for (const char* spelling : {"\\SOFTWARE\\Vendor\\Thing\\", "software\\vendor\\thing",
                                 "SOFTWARE\\Vendor\\Thing", "SOFTWARE\\Vendor"})
        EXPECT_TRUE(reg.OpenKey(spelling, false).isOpen()) << spelling;
    EXPECT_FALSE(reg.OpenKey("SOFTWARE\\Vendor\\Thin", false).isOpen());

    // Opening it again with create adds no second section.
    ASSERT_TRUE(reg.OpenKey("software\\vendor\\thing\\", true).isOpen());
    EXPECT_EQ(readFile(file()), "[SOFTWARE\\Vendor\\Thing]\r\n");
}

TEST_F(RegistryTest, ValuesKeepTheirDataWhateverItHolds)
{
    const QStringList data = {
        "plain",
        "",
        "C:\\\\Apps\\\\tool.exe",
        "  blanks at both ends  ",
        "\"quoted\"",
        "ends with a quote\"",
        "line one\nline two\r\n",
        "tab\tinside",
        "x=y;[z]",
        QStringLiteral("简体中文 / 繁體中文"),
        "\\",
    };
    const Registry reg(file());
    RegistryKey key = reg.OpenKey(kThing, true);
    for (qsizetype i = 0; i < data.size(); ++i)
        ASSERT_TRUE(key.WriteString(QString("v%1").arg(i), data[i]));

    RegistryKey again = Registry(file()).OpenKey(kThing, false);
    ASSERT_TRUE(again.isOpen());
    for (qsizetype i = 0; i < data.size(); ++i)
        EXPECT_EQ(again.ReadString(QString("V%1").arg(i)), data[i]) << i;

    // Data an ini line holds as it stands is written as it stands.
    const QByteArray text = readFile(file());
    EXPECT_TRUE(text.contains("\r\nv0=plain\r\n"));
    EXPECT_TRUE(text.contains("\r\nv2=C:\\\\Apps\\\\tool.exe\r\n"));
    EXPECT_TRUE(text.contains("\r\nv8=x=y;[z]\r\n"));
}

TEST_F(RegistryTest, ValuesStayInTheOrderWrittenAndOtherLinesAreKept)
{
    ASSERT_TRUE(writeFile(file(),
                          "; kept comment\r\n[Other]\r\nA=1\r\n\r\n[SOFTWARE\\Vendor\\Thing]"
                          "\r\nFirst=1\r\n\r\n[Last]\r\nZ=9\r\n"));
    const Registry reg(file());
    RegistryKey key = reg.OpenKey(kThing, false);
    ASSERT_TRUE(key.isOpen());
    EXPECT_TRUE(key.WriteString("Second", "2"));
    EXPECT_TRUE(key.WriteString("Third", "3"));
    EXPECT_TRUE(key.WriteString("first", "one"));
    EXPECT_EQ(readFile(file()), "; kept comment\r\n[Other]\r\nA=1\r\n\r\n[SOFTWARE\\Vendor\\Thing]"
                                "\r\nfirst=one\r\nSecond=2\r\nThird=3\r\n\r\n[Last]\r\nZ=9\r\n");
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue)
{
    const Registry reg(file());
    RegistryKey key = reg.OpenKey(kThing, true);
    key.WriteString("Keep", "1");
    key.WriteString("Drop", "2");
    EXPECT_TRUE(key.DeleteValue("drop"));
    EXPECT_EQ(key.ReadString("Drop"), QString());
    EXPECT_EQ(key.ReadString("Keep"), "1");

    const QByteArray before = readFile(file());
    EXPECT_TRUE(key.DeleteValue("Missing"));
    EXPECT_EQ(readFile(file()), before);
}

TEST_F(RegistryTest, DeleteKeyTakesItsSubkeysAndLeavesItsNeighbours)
{
    const Registry reg(file());
    reg.OpenKey(kThing, true).WriteString("A", "1");
    reg.OpenKey(kThing + "\\Sub\\Deeper", true).WriteString("B", "2");
    reg.OpenKey("\\SOFTWARE\\Vendor\\ThingElse", true).WriteString("C", "3");

    EXPECT_TRUE(reg.DeleteKey("software\\vendor\\thing\\"));
    EXPECT_FALSE(reg.OpenKey(kThing, false).isOpen());
    EXPECT_FALSE(reg.OpenKey(kThing + "\\Sub\\Deeper", false).isOpen());
    EXPECT_EQ(reg.OpenKey("\\SOFTWARE\\Vendor\\ThingElse", false).ReadString("C"), "3");
    EXPECT_TRUE(reg.OpenKey("\\SOFTWARE\\Vendor", false).isOpen());

    const QByteArray before = readFile(file());
    EXPECT_TRUE(reg.DeleteKey(kThing));
    EXPECT_EQ(readFile(file()), before);
}

TEST_F(RegistryTest, TheStartUpKeyTakesValuesThoughTheFileHadNoSectionForIt)
{
    const Registry reg(file());
    RegistryKey run = reg.OpenKey(kRun, false);
    ASSERT_TRUE(run.WriteString("NimbrilApp", "/opt/nimbril"));
    EXPECT_TRUE(readFile(file()).contains("[SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]"));
    EXPECT_EQ(reg.OpenKey(kRun, false).ReadString("nimbrilapp"), "/opt/nimbril");
}

TEST_F(RegistryTest, AFileThatCannotBeReplacedOpensNoKeyAndChangesNothing)
{
    // A folder where the file should be, and a file where its folder should be: neither can be
    // written, even by the administrator.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("registry.ini"));
    ASSERT_TRUE(writeFile(m_dir.filePath("notafolder"), "x"));
    for (const QString& path : {file(), m_dir.filePath("notafolder/registry.ini"),
                                m_dir.filePath("missing/registry.ini")}) {
        const Registry reg(path);
        EXPECT_FALSE(reg.writable()) << path.toStdString();
        EXPECT_FALSE(reg.OpenKey(kRun, false).isOpen()) << path.toStdString();
        EXPECT_FALSE(reg.OpenKey(kThing, true).isOpen()) << path.toStdString();
        EXPECT_FALSE(reg.DeleteKey(kThing)) << path.toStdString();
    }
    EXPECT_FALSE(QFile::exists(m_dir.filePath("missing")));
    EXPECT_EQ(readFile(m_dir.filePath("notafolder")), "x");
}

TEST_F(RegistryTest, AReadOnlyFileOpensNoKey)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "the administrator may write to any file";
    const Registry reg(file());
    reg.OpenKey(kThing, true).WriteString("A", "1");
    ASSERT_TRUE(QFile::setPermissions(file(), QFile::ReadOwner));
    const QByteArray before = readFile(file());
    EXPECT_FALSE(reg.OpenKey(kThing, false).isOpen());
    EXPECT_FALSE(reg.DeleteKey(kThing));
    EXPECT_EQ(readFile(file()), before);
}

// ---- the autostart entry --------------------------------------------------------------------

TEST(ExecQuoting, ReservedCharactersAreEscapedTwiceAndReadBack)
{
    struct Case
    {
        QString path;
        QString inFile;
    };
    const Case cases[] = {
        {"/usr/bin/nimbril", "\"/usr/bin/nimbril\""},
        {"/opt/my apps/nimbril", "\"/opt/my apps/nimbril\""},
        {"/opt/odd\\dir/nimbril", "\"/opt/odd\\\\\\\\dir/nimbril\""},
        {"/opt/$HOME/nimbril", "\"/opt/\\\\$HOME/nimbril\""},
        {"/opt/say \"hi\"/nimbril", "\"/opt/say \\\\\"hi\\\\\"/nimbril\""},
        {"/opt/`x`/nimbril", "\"/opt/\\\\`x\\\\`/nimbril\""},
        {"/opt/100%/nimbril", "\"/opt/100%%/nimbril\""},
        {"/opt/two\nlines", "\"/opt/two\\nlines\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QuoteExecArgument(c.path), c.inFile) << c.path.toStdString();
        EXPECT_EQ(ExecProgram(c.inFile), c.path) << c.path.toStdString();
        EXPECT_EQ(ExecProgram(c.inFile + " --flag %U"), c.path) << c.path.toStdString();
    }
}

class Autostart : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString folder() const { return m_dir.filePath("config/autostart"); }
    QTemporaryDir m_dir;
};

TEST_F(Autostart, EntryAppearsStartsTheProgramAndDisappears)
{
    const AutostartEntry entry(folder());
    EXPECT_EQ(entry.file(), folder() + "/nimbril.desktop");
    EXPECT_FALSE(entry.StartsProgram("/opt/my apps/nimbril"));

    ASSERT_TRUE(entry.Enable("/opt/my apps/nimbril"));
    const QByteArray text = readFile(entry.file());
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n")) << text.constData();
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/my apps/nimbril\"\n"));
    EXPECT_TRUE(entry.StartsProgram("/opt/my apps/nimbril"));
    EXPECT_FALSE(entry.StartsProgram("/opt/my apps/other"));
    EXPECT_FALSE(entry.StartsProgram(""));
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files), QStringList{"nimbril.desktop"});

    EXPECT_TRUE(entry.Disable());
    EXPECT_FALSE(QFile::exists(entry.file()));
    EXPECT_FALSE(entry.StartsProgram("/opt/my apps/nimbril"));
    EXPECT_TRUE(entry.Disable());
}

TEST_F(Autostart, AnEntrySwitchedOffByTheDesktopStartsNothingUntilWrittenAgain)
{
    const AutostartEntry entry(folder());
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QByteArray lines[] = {
        "[Desktop Entry]\nType=Application\nExec=/opt/nimbril\nHidden=true\n",
        "[Desktop Entry]\nExec=/opt/nimbril\nX-GNOME-Autostart-enabled=false\n",
        "[Other Group]\nExec=/opt/nimbril\n",
        "[Desktop Entry]\n# Exec=/opt/nimbril\n",
    };
    for (const QByteArray& text : lines) {
        ASSERT_TRUE(writeFile(entry.file(), text));
        EXPECT_FALSE(entry.StartsProgram("/opt/nimbril")) << text.constData();
    }
    ASSERT_TRUE(
        writeFile(entry.file(), "[Desktop Entry]\nExec = /opt/nimbril --x\nHidden=false\n"));
    EXPECT_TRUE(entry.StartsProgram("/opt/nimbril"));

    ASSERT_TRUE(writeFile(entry.file(), lines[0]));
    ASSERT_TRUE(entry.Enable("/opt/nimbril"));
    EXPECT_TRUE(entry.StartsProgram("/opt/nimbril"));
}

TEST_F(Autostart, AFolderThatCannotBeMadeLeavesNoEntry)
{
    ASSERT_TRUE(writeFile(m_dir.filePath("config"), "a file, not a folder"));
    const AutostartEntry entry(folder());
    EXPECT_FALSE(entry.Enable("/opt/nimbril"));
    EXPECT_FALSE(entry.StartsProgram("/opt/nimbril"));
    EXPECT_EQ(readFile(m_dir.filePath("config")), "a file, not a folder");
}

TEST_F(Autostart, DefaultFolderFollowsXdgConfigHome)
{
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    const bool hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("home")));
    qputenv("HOME", m_dir.filePath("home").toUtf8());

    qputenv("XDG_CONFIG_HOME", m_dir.filePath("cfg").toUtf8());
    EXPECT_EQ(AutostartEntry::DefaultFolder(), m_dir.filePath("cfg/autostart"));
    EXPECT_EQ(AutostartEntry().folder(), m_dir.filePath("cfg/autostart"));
    qputenv("XDG_CONFIG_HOME", "relative/cfg");
    EXPECT_EQ(AutostartEntry::DefaultFolder(), m_dir.filePath("home/.config/autostart"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(AutostartEntry::DefaultFolder(), m_dir.filePath("home/.config/autostart"));

    qputenv("HOME", oldHome);
    if (hadConfig)
        qputenv("XDG_CONFIG_HOME", oldConfig);
}

} // namespace
