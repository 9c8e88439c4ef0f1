#include "Errors.h"
#include "IniFile.h"
#include "Paths.h"
#include "Settings.h"

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
    ReadCollectionDir(paths);
    EXPECT_EQ(paths.collectionRoot, root + "/");
}

TEST_F(Store, PathIsUsedUnchangedAndATrailingSlashIsDoubled)
{
    IniFile::WriteString(configFile(), "CollectionDir", "Path", "/data/coll/");
    ReadCollectionDir(paths);
    EXPECT_EQ(paths.collectionRoot, "/data/coll//");

    IniFile::WriteString(configFile(), "collectiondir", "path", "  /spaced  ");
    ReadCollectionDir(paths);
    EXPECT_EQ(paths.collectionRoot,
              "/spaced/"); // blanks around a value are the ini reader's to drop
}

TEST_F(Store, EmptyConfigMeansNoFirstRunAndEmptySettings)
{
    QFile f(configFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ReadCollectionDir(paths);
    EXPECT_EQ(paths.collectionRoot, "/");
    EXPECT_EQ(settings().language(), "");
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
