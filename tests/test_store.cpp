#include "Errors.h"
#include "IniFile.h"
#include "u_Store.h"

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
        AppDir = m_dir.filePath("app") + "/";
        CollectionRoot.clear();
        CurrentLanguage.clear();
    }
    QString home() const { return m_dir.filePath("home"); }

    QTemporaryDir m_dir;
};

TEST_F(Store, FirstRunCreatesCollectionWithItsEightFoldersAndConfig)
{
    ASSERT_FALSE(QFile::exists(ConfigFile()));
    CreateDefaultCollection(home());

    const QString root = home() + "/NimbrilApp";
    EXPECT_EQ(CollectionRoot, root + "/");
    const QStringList expected = {"Photo", "Text",    "Files", "Music",
                                  "Flash", "WebPage", "Color", "EMail"};
    EXPECT_EQ(CollectionSubfolders(), expected);
    for (const QString& sub : expected)
        EXPECT_TRUE(QDir(root + "/" + sub).exists()) << sub.toStdString();

    EXPECT_EQ(IniFile::ReadString(ConfigFile(), "CollectionDir", "Path"), root);
    EXPECT_EQ(ReadLanguage(), "English");

    CollectionRoot.clear();
    ReadCollectionDir();
    EXPECT_EQ(CollectionRoot, root + "/");
}

TEST_F(Store, PathIsUsedUnchangedAndATrailingSlashIsDoubled)
{
    IniFile::WriteString(ConfigFile(), "CollectionDir", "Path", "/data/coll/");
    ReadCollectionDir();
    EXPECT_EQ(CollectionRoot, "/data/coll//");

    IniFile::WriteString(ConfigFile(), "collectiondir", "path", "  /spaced  ");
    ReadCollectionDir();
    EXPECT_EQ(CollectionRoot, "/spaced/"); // blanks around a value are the ini reader's to drop
}

TEST_F(Store, EmptyConfigMeansNoFirstRunAndEmptySettings)
{
    QFile f(ConfigFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ReadCollectionDir();
    EXPECT_EQ(CollectionRoot, "/");
    EXPECT_EQ(ReadLanguage(), "");
}

TEST_F(Store, WriteLanguageStoresTheCurrentLanguageAndKeepsThePath)
{
    CreateDefaultCollection(home());
    CurrentLanguage = QStringLiteral("简体中文");
    WriteLanguage();
    EXPECT_EQ(ReadLanguage(), QStringLiteral("简体中文"));
    EXPECT_EQ(IniFile::ReadString(ConfigFile(), "CollectionDir", "Path"), home() + "/NimbrilApp");
}

TEST_F(Store, UnwritableProgramFolderEndsTheFirstRunWithUnableToWrite)
{
    AppDir = m_dir.filePath("missing-app-folder") + "/";
    try {
        CreateDefaultCollection(home());
        FAIL() << "no error raised";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(e.text(), "Unable to write to " + ConfigFile());
    }
    EXPECT_TRUE(CollectionRoot.isEmpty());
}

TEST_F(Store, FavoritesFolderIsBelowHome)
{
    EXPECT_EQ(GetFavoritesDir("/home/ann"), "/home/ann/Favorites/");
}

} // namespace
