#include "CollectionFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class CollectionFiles : public ::testing::Test
{
protected:
    QString path(const QString& rel) const { return tmp.filePath(rel); }
    QTemporaryDir tmp;
};

TEST(CollectionFileRules, PaletteFilesByExtensionInAnyCase)
{
    const struct
    {
        const char* path;
        bool palette;
    } cases[] = {
        {"/c/Palette.COL", true}, {"/c/a.col", true}, {"/c/a.Col", true}, {"/c/a.colx", false},
        {"/c/a.col.txt", false},  {"/c/col", false},  {"/c/acol", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPaletteFile(c.path), c.palette) << c.path;
}

TEST_F(CollectionFiles, CopyReplacesAnExistingFileAndKeepsTheSource)
{
    writeFile(path("src/a.txt"), "new contents");
    writeFile(path("dst/a.txt"), "old");
    ::chmod(QFile::encodeName(path("src/a.txt")).constData(), 0640);
    QString error;
    ASSERT_TRUE(CopyFileReplacing(path("src/a.txt"), path("dst/a.txt"), &error))
        << error.toStdString();
    EXPECT_EQ(readFile(path("dst/a.txt")), "new contents");
    EXPECT_EQ(readFile(path("src/a.txt")), "new contents");
    EXPECT_EQ(QFileInfo(path("dst/a.txt")).permissions(),
              QFileInfo(path("src/a.txt")).permissions());
    EXPECT_EQ(QFileInfo(path("dst/a.txt")).lastModified(),
              QFileInfo(path("src/a.txt")).lastModified());
    EXPECT_EQ(filesBelow(path("dst")), QStringList{"a.txt"}); // no temporary file left
}

TEST_F(CollectionFiles, CopyOntoItselfIsRefusedAndTheFileStaysWhole)
{
    writeFile(path("src/a.txt"), "precious");
    QDir().mkpath(path("other"));
    ASSERT_TRUE(QFile::link(path("src"), path("other/link")));
    const QStringList sameFile = {path("src/a.txt"), path("src/../src/a.txt"),
                                  path("other/link/a.txt")};
    for (const QString& target : sameFile) {
        QString error;
        EXPECT_FALSE(CopyFileReplacing(path("src/a.txt"), target, &error)) << target.toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(readFile(path("src/a.txt")), "precious");
    }
    EXPECT_EQ(filesBelow(path("src")), QStringList{"a.txt"});
}

TEST_F(CollectionFiles, CopyFailuresLeaveNothingBehind)
{
    writeFile(path("src/a.txt"), "x");
    QString error;
    EXPECT_FALSE(CopyFileReplacing(path("src/missing.txt"), path("dst/missing.txt"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(CopyFileReplacing(path("src/a.txt"), path("nofolder/a.txt"), &error));
    EXPECT_FALSE(QFileInfo::exists(path("nofolder")));
    // A folder of the target's name is not replaced.
    QDir().mkpath(path("dst/a.txt"));
    EXPECT_FALSE(CopyFileReplacing(path("src/a.txt"), path("dst/a.txt"), &error));
    EXPECT_TRUE(QFileInfo(path("dst/a.txt")).isDir());
    EXPECT_TRUE(filesBelow(path("dst")).isEmpty());
}

TEST_F(CollectionFiles, MoveNeverReplacesAnExistingFile)
{
    writeFile(path("src/a.txt"), "moving");
    writeFile(path("dst/a.txt"), "staying");
    QString error;
    EXPECT_FALSE(MoveFileNoReplace(path("src/a.txt"), path("dst/a.txt"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(path("src/a.txt")), "moving");
    EXPECT_EQ(readFile(path("dst/a.txt")), "staying");
    // Into its own folder: the same name is there already.
    EXPECT_FALSE(MoveFileNoReplace(path("src/a.txt"), path("src/a.txt"), &error));
    EXPECT_EQ(readFile(path("src/a.txt")), "moving");
}

TEST_F(CollectionFiles, MoveToAnotherFileSystem)
{
    // /dev/shm is a memory file system on Linux, normally another device than the temp folder.
    QTemporaryDir other(QStringLiteral("/dev/shm/nimbril-test-XXXXXX"));
    struct stat a, b;
    if (!other.isValid() || ::stat(QFile::encodeName(tmp.path()).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(other.path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system to move to";
    writeFile(path("src/big.bin"), QByteArray(3 << 20, 'z'));
    writeFile(path("src/taken.txt"), "mine");
    writeFile(other.filePath("taken.txt"), "theirs");
    QString error;
    int breaths = 0;
    ASSERT_TRUE(MoveFileNoReplace(path("src/big.bin"), other.filePath("big.bin"), &error, [&] {
        return ++breaths, true;
    })) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("src/big.bin")));
    EXPECT_EQ(readFile(other.filePath("big.bin")), QByteArray(3 << 20, 'z'));
    EXPECT_FALSE(MoveFileNoReplace(path("src/taken.txt"), other.filePath("taken.txt"), &error));
    EXPECT_EQ(readFile(path("src/taken.txt")), "mine");
    EXPECT_EQ(readFile(other.filePath("taken.txt")), "theirs");
    EXPECT_EQ(filesBelow(other.path()), QStringList({"big.bin", "taken.txt"}));

    // A saved page's folder goes along, copied whole before its original is removed.
    writeFile(path("src/P.htm"), "page");
    writeFile(path("src/P.files/sub/x.css"), "css");
    EXPECT_TRUE(
        RunFileOperation(FileOperation::Move, path("src"), {"P.htm"}, other.path()).isEmpty());
    EXPECT_EQ(readFile(other.filePath("P.files/sub/x.css")), "css");
    EXPECT_FALSE(QFileInfo::exists(path("src/P.files")));
}

TEST_F(CollectionFiles, RunCopiesInOrderAndListsWhatFailed)
{
    writeFile(path("src/1.txt"), "one");
    writeFile(path("src/2.txt"), "two");
    QDir().mkpath(path("dst"));
    QList<int> calls;
    const QList<FileFailure> failures = RunFileOperation(FileOperation::Copy, path("src"),
                                                         {"1.txt", "gone.txt", "2.txt", "../x", ""},
                                                         path("dst"), [&](int done, int total) {
                                                             EXPECT_EQ(total, 5);
                                                             calls << done;
                                                             return true;
                                                         });
    EXPECT_EQ(readFile(path("dst/1.txt")), "one");
    EXPECT_EQ(readFile(path("dst/2.txt")), "two");
    ASSERT_EQ(failures.size(), 3);
    EXPECT_EQ(failures[0].name, "gone.txt");
    EXPECT_EQ(failures[1].name, "../x");
    EXPECT_EQ(failures[2].name, "");
    EXPECT_EQ(calls, QList<int>({1, 2, 3, 4, 5}));
}

TEST_F(CollectionFiles, RunMoveAndDelete)
{
    writeFile(path("src/1.txt"), "one");
    writeFile(path("src/2.txt"), "two");
    writeFile(path("dst/2.txt"), "old two");
    QList<FileFailure> failures =
        RunFileOperation(FileOperation::Move, path("src") + "/", {"1.txt", "2.txt"}, path("dst"));
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0].name, "2.txt");
    EXPECT_EQ(filesBelow(path("src")), QStringList{"2.txt"});
    EXPECT_EQ(readFile(path("dst/2.txt")), "old two");

    failures = RunFileOperation(FileOperation::Delete, path("dst"), {"1.txt", "nope"}, QString());
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0].name, "nope");
    EXPECT_EQ(filesBelow(path("dst")), QStringList{"2.txt"});
}

TEST_F(CollectionFiles, ASavedPageTravelsWithItsFilesFolder)
{
    EXPECT_EQ(PageFilesFolderName("News.htm"), "News.files");
    EXPECT_EQ(PageFilesFolderName("a.b.HTML"), "a.b.files");
    EXPECT_EQ(PageFilesFolderName(".htm"), "");
    EXPECT_EQ(PageFilesFolderName("notes.txt"), "");

    writeFile(path("src/News.htm"), "<img src=News.files/a.png>");
    writeFile(path("src/News.files/a.png"), "png");
    writeFile(path("src/News.files/frames/f.htm"), "frame");
    writeFile(path("src/Alone.htm"), "no folder");
    writeFile(path("dst/News.files/a.png"), "old");
    QList<FileFailure> failures =
        RunFileOperation(FileOperation::Copy, path("src"), {"News.htm", "Alone.htm"}, path("dst"));
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(filesBelow(path("dst")), QStringList({"Alone.htm", "News.files/a.png",
                                                    "News.files/frames/f.htm", "News.htm"}));
    EXPECT_EQ(readFile(path("dst/News.files/a.png")), "png");
    EXPECT_EQ(filesBelow(path("src")), filesBelow(path("dst")));

    // A move takes the folder along, and leaves a page whose folder's name is taken alone.
    QDir().mkpath(path("moved"));
    failures = RunFileOperation(FileOperation::Move, path("src"), {"News.htm"}, path("moved"));
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(filesBelow(path("moved")),
              QStringList({"News.files/a.png", "News.files/frames/f.htm", "News.htm"}));
    EXPECT_EQ(filesBelow(path("src")), QStringList{"Alone.htm"});
    failures = RunFileOperation(FileOperation::Move, path("moved"), {"News.htm"}, path("dst"));
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0].name, "News.htm");
    EXPECT_TRUE(failures[0].reason.startsWith("News.files")) << failures[0].reason.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("moved/News.files/a.png")));
    EXPECT_EQ(readFile(path("moved/News.htm")), "<img src=News.files/a.png>");
}

TEST_F(CollectionFiles, RunStopsWhenProgressSaysSo)
{
    for (const char* name : {"a", "b", "c"})
        writeFile(path(QStringLiteral("src/") + name), name);
    const QList<FileFailure> failures =
        RunFileOperation(FileOperation::Delete, path("src"), {"a", "b", "c"}, QString(),
                         [](int done, int) { return done < 1; });
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(filesBelow(path("src")), QStringList({"b", "c"}));
}

TEST_F(CollectionFiles, RunStoppedInsideALargeCopyLeavesTheTargetAlone)
{
    writeFile(path("src/big.bin"), QByteArray(9 << 20, 'b'));
    writeFile(path("dst/big.bin"), "old");
    int calls = 0;
    const QList<FileFailure> failures =
        RunFileOperation(FileOperation::Copy, path("src"), {"big.bin"}, path("dst"),
                         [&](int, int) { return ++calls < 2; });
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(readFile(path("dst/big.bin")), "old");
    EXPECT_EQ(filesBelow(path("dst")), QStringList{"big.bin"});
}

TEST(CollectionFileRules, DescribeFailuresCutsLongLists)
{
    QList<FileFailure> failures;
    for (int i = 0; i < 5; ++i)
        failures << FileFailure{QStringLiteral("f%1").arg(i), QStringLiteral("why")};
    EXPECT_EQ(DescribeFailures(failures.mid(0, 2)), "f0: why\nf1: why");
    const QStringList lines = DescribeFailures(failures, 3).split(u'\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[2], "f2: why");
    EXPECT_TRUE(lines[3].contains("2"));
}

TEST_F(CollectionFiles, ChosenFolderIsResolvedAndCreated)
{
    QDir().mkpath(path("base"));
    writeFile(path("base/file.txt"), "x");
    const struct
    {
        QString typed;
        QString expected; // empty: refused
    } cases[] = {
        {"", path("base")},
        {"  ", path("base")},
        {"New Folder", path("base/New Folder")},
        {"a/b/c", path("base/a/b/c")},
        {path("elsewhere/deep"), path("elsewhere/deep")},
        {path("base/x/../y/"), path("base/y")},
        {"file.txt", ""},
        {"file.txt/sub", ""},
    };
    for (const auto& c : cases) {
        QString error;
        const QString got = AcceptChosenFolder(c.typed, path("base"), &error);
        EXPECT_EQ(got, c.expected) << c.typed.toStdString();
        if (c.expected.isEmpty())
            EXPECT_FALSE(error.isEmpty()) << c.typed.toStdString();
        else
            EXPECT_TRUE(QFileInfo(c.expected).isDir()) << c.typed.toStdString();
    }
    EXPECT_TRUE(QFileInfo(path("base/file.txt")).isFile());
}

TEST_F(CollectionFiles, StartFolderFallsBackToTheNearestExistingParent)
{
    QDir().mkpath(path("a/b"));
    EXPECT_EQ(ExistingFolderOrParent(path("a/b")), path("a/b"));
    EXPECT_EQ(ExistingFolderOrParent(path("a/b/")), path("a/b"));
    EXPECT_EQ(ExistingFolderOrParent(path("a/gone/deeper")), path("a"));
    EXPECT_EQ(ExistingFolderOrParent(""), QDir::homePath());
}

TEST_F(CollectionFiles, PreviewTextEncodings)
{
    writeFile(path("utf8.txt"), "Gr\xC3\xBC\xC3\x9F\x65 \xE7\xAE\x80\xE4\xBD\x93");
    writeFile(path("latin1.txt"), "caf\xE9 cr\xE8me");
    writeFile(path("bom.txt"), "\xEF\xBB\xBFhi");
    writeFile(path("utf16.txt"), QByteArray("\xFF\xFEh\0i\0", 6));
    const struct
    {
        const char* file;
        QString text;
    } cases[] = {
        {"utf8.txt", QStringLiteral("Grüße 简体")},
        {"latin1.txt", QStringLiteral("café crème")},
        {"bom.txt", QStringLiteral("hi")},
        {"utf16.txt", QStringLiteral("hi")},
    };
    for (const auto& c : cases) {
        bool ok = false;
        bool truncated = true;
        EXPECT_EQ(ReadPreviewText(path(c.file), 1000, &truncated, &ok), c.text) << c.file;
        EXPECT_TRUE(ok);
        EXPECT_FALSE(truncated);
    }
}

TEST_F(CollectionFiles, PreviewTextIsCutWithoutBreakingACharacter)
{
    // "简" is three bytes: a cut after its first byte must not turn the file into Latin-1.
    writeFile(path("cut.txt"), "ab\xE7\xAE\x80");
    bool truncated = false;
    bool ok = false;
    EXPECT_EQ(ReadPreviewText(path("cut.txt"), 3, &truncated, &ok), "ab");
    EXPECT_TRUE(truncated);
    EXPECT_TRUE(ok);
    ReadPreviewText(path("missing.txt"), 3, &truncated, &ok);
    EXPECT_FALSE(ok);
}

} // namespace
