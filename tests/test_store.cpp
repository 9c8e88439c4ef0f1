#include "Errors.h"
#include "IniFile.h"
#include "Paths.h"
#include "Settings.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Every test gets its own program folder and home, and never touches the real ones.
class Store : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkpath("app");
        QDir(m_dir.path()).mkpath("home");
        paths = Paths::ForProgram(m_dir.filePath("app"), home());
    }
    QString home() const { return m_dir.filePath("home"); }
    QString configFile() const { return paths.configFile(); }
    Settings settings() const { return Settings(paths.configFile()); }

    QTemporaryDir m_dir;
    Paths paths;
};

TEST_F(Store, FirstRunCreatesCollectionWithItsEightFoldersAndConfig)
{
    ASSERT_FALSE(QFile::exists(configFile()));
    CreateDefaultCollection(paths, home());

    const QString root = home() + "/NimbrilApp";
    EXPECT_EQ(paths.collectionRoot, root + "/");
    const QStringList expected = {"Photo", "Text",    "Files", "Music",
                                  "Flash", "WebPage", "Color", "EMail"};
    EXPECT_EQ(CollectionSubfolders(), expected);
    for (const QString& sub : expected)
        EXPECT_TRUE(QDir(root + "/" + sub).exists()) << sub.toStdString();

    EXPECT_EQ(IniFile::ReadString(configFile(), "CollectionDir", "Path"), root);
    EXPECT_EQ(settings().language(), "English");

    paths.collectionRoot.clear();
    EXPECT_EQ(ReadCollectionDir(paths, home()), "");
    EXPECT_EQ(paths.collectionRoot, root + "/");
}

TEST_F(Store, AFolderPathIsUsedUnchangedAndATrailingSlashIsDoubled)
{
    const QString coll = m_dir.filePath("data/coll");
    ASSERT_TRUE(QDir().mkpath(coll));
    IniFile::WriteString(configFile(), "CollectionDir", "Path", coll + "/");
    EXPECT_EQ(ReadCollectionDir(paths, home()), "");
    EXPECT_EQ(paths.collectionRoot, coll + "//");

    IniFile::WriteString(configFile(), "collectiondir", "path", "  " + coll + "  ");
    ReadCollectionDir(paths, home());
    EXPECT_EQ(paths.collectionRoot, coll + "/"); // blanks around a value are the ini reader's
}

// A damaged Config.ini never sends a capture to the file system's root or the current folder:
// the collection falls back to the home's, and the user is told why.
TEST_F(Store, AnUnusableCollectionPathFallsBackToTheHomeCollection)
{
    QDir().mkpath(m_dir.filePath("a-folder.ini"));
    const QByteArray noise = QByteArray::fromHex("fffe5b0043006f006c0001027f5d0d0a80813dc3");
    for (const QByteArray& content :
         {QByteArray(), noise, QByteArray("[CollectionDir]\r\nPath=relative/coll\r\n"),
          QByteArray("[CollectionDir]\r\nPath=/\r\n"), QByteArray("[Other]\r\nPath=/tmp\r\n"),
          QByteArray(QByteArray("[CollectionDir]\r\nPath=") + m_dir.filePath("missing").toUtf8() +
                     "\r\n")}) {
        ASSERT_TRUE(writeFile(configFile(), content));
        paths.collectionRoot.clear();
        const QString notice = ReadCollectionDir(paths, home());
        EXPECT_EQ(paths.collectionRoot, home() + "/NimbrilApp/") << content.toStdString();
        EXPECT_TRUE(notice.contains(home() + "/NimbrilApp")) << notice.toStdString();
        EXPECT_TRUE(QDir(home() + "/NimbrilApp/Text").exists());
        EXPECT_EQ(readFile(configFile()), content); // the user's file is left as it was
    }
    Paths folderAsConfig = paths;
    folderAsConfig.programDir = m_dir.filePath("a-folder.ini") + "/";
    ReadCollectionDir(folderAsConfig, home());
    EXPECT_EQ(folderAsConfig.collectionRoot, home() + "/NimbrilApp/");
}

TEST_F(Store, WritingTheLanguageKeepsThePath)
{
    CreateDefaultCollection(paths, home());
    settings().setLanguage(QStringLiteral("简体中文"));
    EXPECT_EQ(settings().language(), QStringLiteral("简体中文"));
    EXPECT_EQ(IniFile::ReadString(configFile(), "CollectionDir", "Path"), home() + "/NimbrilApp");
}

TEST_F(Store, UnwritableProgramFolderEndsTheFirstRunWithUnableToWrite)
{
    paths.programDir = m_dir.filePath("missing-app-folder") + "/";
    try {
        CreateDefaultCollection(paths, home());
        FAIL() << "no error raised";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(e.text(), "Unable to write to " + configFile());
    }
    EXPECT_TRUE(paths.collectionRoot.isEmpty());
}

TEST_F(Store, FavoritesFolderIsBelowHome)
{
    EXPECT_EQ(GetFavoritesDir("/home/ann"), "/home/ann/Favorites/");
}

} // namespace
