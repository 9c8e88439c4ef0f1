#include "ResourceFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Where captured bytes land: a file already there stays unless it holds the same bytes, nothing
// leaves the folder the capture names, and nothing is written through a symbolic link.
class ResourceFiles : public ::testing::Test
{
protected:
    QString write(const QByteArray& bytes, const QString& rel, const QString& sub)
    {
        return WriteResourceFile(bytes, ResourceTarget(rel, root, sub));
    }
    QString harvest(const QByteArray& bytes, const QString& url)
    {
        return WriteResourceFile(bytes, root + "/" + ResourceFileName(url));
    }

    QTemporaryDir tmp;
    QString root = tmp.filePath("coll");
};

TEST_F(ResourceFiles, HarvestNamesComeFromTheAddressAndAnIdenticalFileIsKept)
{
    EXPECT_EQ(harvest("GIF-A", "http://h/img/logo%5B1%5D.gif?x=1"), root + "/logo1.gif");
    EXPECT_EQ(harvest("GIF-A", "http://h/other/logo[1].gif"), root + "/logo1.gif");
    EXPECT_EQ(filesBelow(root), QStringList({"logo1.gif"}));
    EXPECT_EQ(ResourceFileName("http://h/"), "index");
    EXPECT_FALSE(ResourceFileName("http://h/a/..%2F..%2Fx").contains(u'/'));
}

TEST_F(ResourceFiles, AnotherFileKeepsItsNameAndTheBytesGoBeside)
{
    writeFile(root + "/logo1.gif", "another, longer file");
    writeFile(root + "/a.gif", "AAAA");
    writeFile(root + "/README", "old");
    const QString renamed = harvest("GIF-A", "http://h/logo1.gif");
    EXPECT_TRUE(QRegularExpression(".*/logo1\\d{1,10}\\.gif$").match(renamed).hasMatch())
        << renamed.toStdString();
    EXPECT_EQ(readFile(renamed), "GIF-A");
    EXPECT_EQ(readFile(root + "/logo1.gif"), "another, longer file");
    EXPECT_NE(harvest("BBBB", "http://h/a.gif"), root + "/a.gif"); // same size, other bytes
    EXPECT_TRUE(QRegularExpression(".*/\\d{1,10}README$")
                    .match(harvest("new!", "http://h/README"))
                    .hasMatch());
    EXPECT_EQ(readFile(root + "/README"), "old");
}

TEST_F(ResourceFiles, PageResourcesKeepTheirFoldersAndNeverLeaveTheResourceFolder)
{
    EXPECT_EQ(write("X", "img/sub/x.gif", "p.files"), root + "/p.files/img/sub/x.gif");
    EXPECT_EQ(write("X", "img/", "s.files"), "");
    EXPECT_EQ(write("X", "img/   ", "s.files"), "");
    for (const char* rel : {"x.gif?a=/../../../.bashrc", "../../../escape.gif", "a/../../b.gif",
                            "./.././c.gif", "//d.gif", "..", "a/..", "e/./f.gif"})
        write("X", rel, "q.files");
    QDirIterator all(tmp.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (all.hasNext()) {
        const QString f = all.next();
        EXPECT_TRUE(f.startsWith(root + "/p.files/") || f.startsWith(root + "/q.files/"))
            << f.toStdString();
    }
    EXPECT_EQ(filesBelow(root + "/q.files"),
              QStringList({"a/b.gif", "c.gif", "d.gif", "e/f.gif", "escape.gif", "x.gif"}));
    // A name ends in its own extension: the query is left out, and a name that is taken by other
    // bytes gets digits before the extension, not after it.
    EXPECT_EQ(write("A", "css/site.css?v=2", "t.files"), root + "/t.files/css/site.css");
    EXPECT_TRUE(QRegularExpression(".*/t.files/css/site\\d+\\.css$")
                    .match(write("B", "css/site.css?v=3", "t.files"))
                    .hasMatch());
    EXPECT_EQ(write("C", "?only=query", "t.files"), root + "/t.files/?only=query");
    const QString longName = write("X", QString(400, u'n') + ".gif", "r.files");
    EXPECT_LE(QFileInfo(longName).fileName().toUtf8().size(), 255);
}

TEST_F(ResourceFiles, NothingIsWrittenThroughALinkInTheDestination)
{
    writeFile(tmp.filePath("elsewhere/victim.gif"), "precious");
    QDir().mkpath(root);
    ASSERT_TRUE(QFile::link(tmp.filePath("elsewhere/victim.gif"), root + "/victim.gif"));
    const QString written = harvest("page bytes", "http://h/victim.gif");
    EXPECT_NE(written, root + "/victim.gif");
    EXPECT_EQ(readFile(written), "page bytes");
    EXPECT_EQ(readFile(tmp.filePath("elsewhere/victim.gif")), "precious");
    EXPECT_EQ(QDir(root).entryList(QDir::Hidden | QDir::Files | QDir::System).size(), 2)
        << "no temporary file stays behind";
}

// Files written on the queue's own thread come out as if written one after the other in the
// order queued: the first of two for one name gets it, and every file is whole once finish()
// returns.
TEST_F(ResourceFiles, QueuedFilesAreWrittenInTheirOrder)
{
    ResourceFileQueue queue;
    const QString target = root + "/img/x.gif";
    const QByteArray big(3 << 20, 'b');
    for (int i = 0; i < 20; ++i)
        queue.write(QString::number(i), i % 2 ? big + char('0' + i % 10) : QByteArray("same"),
                    target);
    const QList<ResourceFileQueue::Written> written = queue.finish();
    ASSERT_EQ(written.size(), 20);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(written[i].id, QString::number(i));
        // The first holds the name, and the same bytes again are that file; the others lie
        // beside it.
        if (i % 2 == 0)
            EXPECT_EQ(written[i].file, target) << i;
        else
            EXPECT_EQ(readFile(written[i].file), big + char('0' + i % 10)) << i;
    }
    EXPECT_EQ(filesBelow(root + "/img").size(), 11);
    EXPECT_TRUE(queue.finish().isEmpty());
}

} // namespace
