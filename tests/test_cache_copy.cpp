#include "BrowserCache.h"
#include "FileCopy.h"
#include "FolderBrowserCache.h"
#include "TestFiles.h"
#include "u_SaveIE.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(GetCacheFileName, AsksTheInstalledBrowserCache)
{
    QTemporaryDir dir;
    EXPECT_EQ(GetCacheFileName("http://h/a.gif"), ""); // no cache installed
    FolderBrowserCache cache(dir.path());
    ScopedBrowserCache scope(&cache);
    const QString path = cache.add("http://h/a.gif", "GIF89a");
    EXPECT_EQ(GetCacheFileName("http://h/a.gif"), path);
    EXPECT_EQ(GetCacheFileName("http://h/b.gif"), "");
}

class CopyCacheFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cacheDir = tmp.filePath("cache");
        root = tmp.filePath("coll");
        QDir().mkpath(cacheDir);
    }
    QString cached(const QString& name, const QByteArray& bytes)
    {
        const QString path = cacheDir + "/" + name;
        writeFile(path, bytes);
        return path;
    }
    void copy(const QString& file, const QString& rel, const QString& sub, bool keepDirs)
    {
        TSaveIE::CopyCacheFile(file, rel, root, sub, keepDirs, GetFileSize(file));
    }

    QTemporaryDir tmp;
    QString cacheDir;
    QString root;
};

TEST_F(CopyCacheFile, HarvestDropsBracketsAndKeepsAnIdenticalFile)
{
    const QString logo = cached("logo[1].gif", "GIF-A");
    copy(logo, "", "", false);
    EXPECT_EQ(readFile(root + "/logo1.gif"), "GIF-A");
    copy(logo, "", "", false);
    EXPECT_EQ(filesBelow(root), QStringList({"logo1.gif"}));
}

TEST_F(CopyCacheFile, OtherSizeGetsRandomDigitsBeforeTheExtension)
{
    writeFile(root + "/logo1.gif", "another, longer file");
    copy(cached("logo[1].gif", "GIF-A"), "", "", false);
    const QStringList files = filesBelow(root);
    ASSERT_EQ(files.size(), 2);
    const QString renamed = files[0] == "logo1.gif" ? files[1] : files[0];
    EXPECT_TRUE(QRegularExpression("^logo1\\d{1,10}\\.gif$").match(renamed).hasMatch())
        << renamed.toStdString();
    EXPECT_EQ(readFile(root + "/" + renamed), "GIF-A");
    EXPECT_EQ(readFile(root + "/logo1.gif"), "another, longer file");
}

TEST_F(CopyCacheFile, SameSizeButDifferentBytesIsNotTakenForTheSameFile)
{
    writeFile(root + "/a.gif", "AAAA");
    copy(cached("a.gif", "BBBB"), "", "", false);
    const QStringList files = filesBelow(root);
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(readFile(root + "/a.gif"), "AAAA");
}

TEST_F(CopyCacheFile, NameWithoutDotGetsDigitsInFront)
{
    writeFile(root + "/README", "old");
    copy(cached("README", "new!"), "", "", false);
    const QStringList files = filesBelow(root);
    ASSERT_EQ(files.size(), 2);
    EXPECT_TRUE(QRegularExpression("^\\d{1,10}README$").match(files[0]).hasMatch())
        << files[0].toStdString();
}

TEST_F(CopyCacheFile, PageUseKeepsFoldersOrFlattens)
{
    const QString x = cached("x.gif", "X");
    copy(x, "img/sub/x.gif", "p.files", true);
    EXPECT_EQ(readFile(root + "/p.files/img/sub/x.gif"), "X");
    copy(x, "img/sub/x.gif", "q.files", false);
    EXPECT_EQ(readFile(root + "/q.files/x.gif"), "X");
    copy(x, "y.gif", "r.files", true);
    EXPECT_EQ(readFile(root + "/r.files/y.gif"), "X");
    copy(x, "img/", "s.files", true);
    copy(x, "img/   ", "s.files", true);
    EXPECT_FALSE(QDir(root + "/s.files").exists());
}

TEST_F(CopyCacheFile, MissingSourceCopiesNothing)
{
    copy(cacheDir + "/none.gif", "a/none.gif", "p.files", true);
    EXPECT_FALSE(QDir(root).exists());
}

TEST_F(CopyCacheFile, RelativePathsFromAPageNeverLeaveTheFolder)
{
    const QString x = cached("x.gif", "X");
    for (const char* rel : {"x.gif?a=/../../../.bashrc", "../../../escape.gif", "a/../../b.gif",
                            "./.././c.gif", "//d.gif", "..", "a/..", "e/./f.gif"})
        copy(x, rel, "p.files", true);
    QDirIterator all(tmp.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (all.hasNext()) {
        const QString f = all.next();
        if (f.startsWith(cacheDir + "/"))
            continue;
        EXPECT_TRUE(f.startsWith(root + "/p.files/")) << f.toStdString();
    }
    EXPECT_EQ(filesBelow(root + "/p.files"), QStringList({"a/b.gif", "c.gif", "d.gif", "e/f.gif",
                                                          "escape.gif", "x.gif?a=/.bashrc"}));
}

TEST_F(CopyCacheFile, OverlongNamesAreCutToAFileName)
{
    const QString x = cached("x.gif", "X");
    copy(x, QString(400, u'n') + ".gif", "p.files", true);
    const QStringList files = filesBelow(root + "/p.files");
    ASSERT_EQ(files.size(), 1);
    EXPECT_LE(files[0].toUtf8().size(), 255);
}

} // namespace
