#include "FileCopy.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(GetFileSize, IsSixtyFourBitsAndMinusOneWhenMissing)
{
    QTemporaryDir dir;
    EXPECT_EQ(GetFileSize(dir.filePath("none")), -1);
    EXPECT_EQ(GetFileSize(""), -1);
    writeFile(dir.filePath("f"), QByteArray(1234, 'x'));
    EXPECT_EQ(GetFileSize(dir.filePath("f")), 1234);

    // A sparse file past 4 GiB must not wrap (nor go negative past 2 GiB).
    QFile big(dir.filePath("big"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    const qint64 size = 5LL * 1024 * 1024 * 1024 + 3;
    if (!big.resize(size))
        GTEST_SKIP() << "file system cannot hold a sparse 5 GiB file";
    big.close();
    EXPECT_EQ(GetFileSize(dir.filePath("big")), size);
}

class RecordingObserver : public FolderCopyObserver
{
public:
    ReplaceAnswer askReplace(const QString& target) override
    {
        asked << QFileInfo(target).fileName();
        return answer;
    }
    void progress(int done, int total) override { last = {done, total}; }
    ReplaceAnswer answer = ReplaceAnswer::No;
    QStringList asked;
    std::pair<int, int> last{0, 0};
};

TEST(ShellCopyFiles, CopiesFilesAndSubfoldersAndAsksBeforeReplacing)
{
    QTemporaryDir tmp;
    const QString src = tmp.filePath("src"), dst = tmp.filePath("dst/deep");
    writeFile(src + "/a.txt", "a");
    writeFile(src + "/noext", "n");
    writeFile(src + "/sub/b.txt", "b");
    QDir().mkpath(src + "/empty");
    writeFile(dst + "/a.txt", "old");

    RecordingObserver obs;
    EXPECT_TRUE(ShellCopyFiles(&obs, src, "*.*", dst));
    EXPECT_EQ(obs.asked, QStringList({"a.txt"}));
    EXPECT_EQ(readFile(dst + "/a.txt"), "old");
    EXPECT_EQ(readFile(dst + "/noext"), "n");
    EXPECT_EQ(readFile(dst + "/sub/b.txt"), "b");
    EXPECT_TRUE(QDir(dst + "/empty").exists());
    EXPECT_EQ(obs.last.first, obs.last.second);

    obs.answer = ReplaceAnswer::Yes;
    EXPECT_TRUE(ShellCopyFiles(&obs, src + "/", "*.*", dst));
    EXPECT_EQ(readFile(dst + "/a.txt"), "a");

    obs.answer = ReplaceAnswer::Cancel;
    EXPECT_FALSE(ShellCopyFiles(&obs, src, "*.*", dst));
    EXPECT_FALSE(ShellCopyFiles(nullptr, tmp.filePath("missing"), "*.*", dst));
}

TEST(ShellCopyFiles, TargetInsideTheSourceIsNotCopiedIntoItself)
{
    QTemporaryDir tmp;
    const QString src = tmp.filePath("src");
    writeFile(src + "/a.txt", "a");
    EXPECT_TRUE(ShellCopyFiles(nullptr, src, "*.*", src + "/copy"));
    EXPECT_EQ(filesBelow(src), QStringList({"a.txt", "copy/a.txt"}));
}

TEST(CopyNewFile, CopiesBytesAndModeButNeverReplaces)
{
    QTemporaryDir dir;
    const QString from = dir.filePath("from.bin");
    QByteArray bytes(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 % 251);
    writeFile(from, bytes);
    QFile::setPermissions(from, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_TRUE(CopyNewFile(from, dir.filePath("to.bin")));
    EXPECT_TRUE(readFile(dir.filePath("to.bin")) == bytes);
    EXPECT_TRUE(QFileInfo(dir.filePath("to.bin")).isExecutable());

    writeFile(dir.filePath("kept.bin"), "old");
    EXPECT_FALSE(CopyNewFile(from, dir.filePath("kept.bin")));
    EXPECT_EQ(readFile(dir.filePath("kept.bin")), "old");
    // Nothing is left behind by a copy that could not start or finish.
    EXPECT_FALSE(CopyNewFile(dir.filePath("missing"), dir.filePath("none.bin")));
    EXPECT_FALSE(CopyNewFile(dir.path(), dir.filePath("folder.bin")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("none.bin")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("folder.bin")));
    EXPECT_FALSE(CopyNewFile(from, dir.filePath("no/such/folder/x.bin")));
}

} // namespace
