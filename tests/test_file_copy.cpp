#include "Errors.h"
#include "FileCopy.h"
#include "IniFile.h"
#include "PaletteFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

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

// A pipe, a device or a huge file named where a settings, language, palette or list file should
// be is refused at once; nothing waits on it or reads it into memory.
TEST(ReadRegularFile, PipesDevicesAndHugeFilesAreRefusedWithoutWaiting)
{
    QTemporaryDir tmp;
    const QString fifo = tmp.filePath("Config.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zero = tmp.filePath("zero.col");
    ASSERT_TRUE(QFile::link("/dev/zero", zero));
    ASSERT_TRUE(writeFile(tmp.filePath("ok.ini"), "[A]\r\nk=v\r\n"));

    // A read that waits on the pipe would never come back: the watch ends the test instead.
    std::atomic<bool> done = false;
    std::thread watch([&done] {
        for (int i = 0; i < 200 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done) {
            std::fprintf(stderr, "a read waited on a pipe\n");
            std::_Exit(1);
        }
    });
    QString why;
    EXPECT_EQ(ReadRegularFile(fifo, 1024, &why), std::nullopt);
    EXPECT_TRUE(why.contains("no ordinary file")) << why.toStdString();
    EXPECT_EQ(ReadRegularFile(zero, 1024), std::nullopt);
    EXPECT_EQ(IniFile::ReadString(fifo, "CollectionDir", "Path", "none"), "none");
    EXPECT_THROW(IniFile::WriteString(fifo, "A", "k", "v"), IniWriteError);
    PaletteCells cells;
    EXPECT_THROW(ReadPalette(zero, &cells), InOutError);
    done = true;
    watch.join();

    EXPECT_EQ(ReadRegularFile(tmp.filePath("ok.ini"), 9, &why), std::nullopt);
    EXPECT_TRUE(why.contains("larger")) << why.toStdString();
    EXPECT_EQ(ReadRegularFile(tmp.filePath("ok.ini"), 1024), QByteArray("[A]\r\nk=v\r\n"));
}

} // namespace
