#include "ResourceFiles.h"
#include "TestFiles.h"
#include "u_Public.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Every file below a folder, as paths relative to it, sorted.

TEST(IsWebUrl, AcceptsOnlyHttpHttpsAndFtp)
{
    for (const char* yes : {"HTTP://X", "http://x", "https://a/b", "Ftp://f", "https://"})
        EXPECT_TRUE(IsWebUrl(yes)) << yes;
    for (const char* no : {"http:/x", "file:///c:/a.htm", "mailto:a@b.c", "", "http:", "ftp:/",
                           " http://x", "about:blank"})
        EXPECT_FALSE(IsWebUrl(no)) << no;
}

struct UrlCase
{
    const char* page;
    const char* resource;
    const char* expected;
};

class RelativePath : public ::testing::TestWithParam<UrlCase>
{};

TEST_P(RelativePath, StartsWhereTheUrlsFirstDiffer)
{
    const UrlCase c = GetParam();
    EXPECT_EQ(RelativeResourcePath(c.page, c.resource), QString(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, RelativePath,
    ::testing::Values(UrlCase{"http://h/d/p.htm", "http://h/d/img/x.gif", "img/x.gif"},
                      UrlCase{"http://h/d/p.htm", "http://k/img/x.gif", "x.gif"},
                      UrlCase{"http://h/d/p.htm", "http://k/x.gif", "x.gif"},
                      UrlCase{"http://h/d/", "http://h/d/x.gif", "x.gif"},
                      UrlCase{"http://h/d/p.htm", "http://h/d/p.htm", ""},
                      UrlCase{"http://h/d/p.htm", "http://h/dx/y.gif", "x/y.gif"},
                      UrlCase{"HTTP://H/D/p.htm", "http://h/d/img/x.gif?v=1#f", "img/x.gif?v=1#f"},
                      UrlCase{"http://h/d/p.htm", "https://h/d/img/x.gif", "x.gif"},
                      UrlCase{"https://h/d/p.htm", "ftp://h/d/img/x.gif", "x.gif"},
                      UrlCase{"http://h/d/p.htm", "data:image/png;base64,AAAAAAAAAAA",
                              "png;base64,AAAAAAAAAAA"},
                      UrlCase{"http://h/d/p.htm", "nothing-with-no-slash-at-all",
                              "nothing-with-no-slash-at-all"}));

TEST(CombineUrl, ResolvesAgainstThePageAndFailsEmpty)
{
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "img/x.gif"), "http://h/d/img/x.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "../x.gif"), "http://h/x.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "/x.gif"), "http://h/x.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "//k/x.gif"), "http://k/x.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "http://k/a.swf"), "http://k/a.swf");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "a b.gif"), "http://h/d/a%20b.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "x.gif?q=1"), "http://h/d/x.gif?q=1");
    EXPECT_EQ(CombineUrl("not a url", "x.gif"), "");
    EXPECT_EQ(CombineUrl("", "x.gif"), "");
    EXPECT_EQ(CombineUrl("http://h/", QString(2100, u'a')), ""); // does not fit
}

TEST(CleanFileName, RemovesAndReplacesForbiddenCharacters)
{
    EXPECT_EQ(CleanFileName("a/b:c?"), "a-bc");
    EXPECT_EQ(CleanFileName("  \t Title \r\n"), "Title");
    EXPECT_EQ(CleanFileName("\\:*?\"<>|\r\n"), "");
    EXPECT_EQ(CleanFileName("x<y>|z\"w"), "xyzw");
    EXPECT_EQ(CleanFileName(QString("\x01 a \x1f")), "a");
    EXPECT_EQ(CleanFileName("/ leading slash"), "- leading slash");
    EXPECT_EQ(CleanFileName(QStringLiteral("新闻 — 日报")), QStringLiteral("新闻 — 日报"));
}

TEST(CounterSuffixPos, FindsAnIntegerInFinalParentheses)
{
    EXPECT_EQ(CounterSuffixPos("page(12)"), 6);
    EXPECT_EQ(CounterSuffixPos("a(b)(3)"), 6);
    EXPECT_EQ(CounterSuffixPos("(7)"), 2);
    EXPECT_EQ(CounterSuffixPos("x(-1)"), 3);
    EXPECT_EQ(CounterSuffixPos("x($1F)"), 3);
    for (const char* no :
         {"page(x)", "page()", "page(1", "page", "", ")", "x)(", "x( 1 )", "x(99999999999)"})
        EXPECT_EQ(CounterSuffixPos(no), -1) << no;
}

TEST(StrToIntStrict, AcceptsTheRuntimesIntegerForms)
{
    struct Case
    {
        const char* text;
        bool ok;
        int value;
    };
    for (const Case& c :
         {Case{"12", true, 12}, Case{"  -7", true, -7}, Case{"+3", true, 3}, Case{"$ff", true, 255},
          Case{"x10", true, 16}, Case{"0X1a", true, 26}, Case{"-$10", true, -16},
          Case{"$FFFFFFFF", true, -1}, Case{"2147483647", true, 2147483647},
          Case{"-2147483648", true, int(-2147483647 - 1)}, Case{"2147483648", false, 0},
          Case{"12 ", false, 0}, Case{"", false, 0}, Case{"-", false, 0}, Case{"$", false, 0},
          Case{"1e3", false, 0}, Case{"$100000000", false, 0}}) {
        int v = 0;
        EXPECT_EQ(StrToIntStrict(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(TextInList, ComparesAsciiWithoutCaseUpToTheHighIndex)
{
    EXPECT_TRUE(TextInList("jpg", PhotoExts, 29));
    EXPECT_TRUE(TextInList("RgBa", PhotoExts, 29));
    EXPECT_FALSE(TextInList("RGBA", PhotoExts, 28));
    EXPECT_FALSE(TextInList("JPG", PhotoExts, -1));
    EXPECT_EQ(PhotoExts.size(), 30);
    EXPECT_EQ(MusicExts.size(), 63);
    EXPECT_EQ(MusicExts[24], "PLS");
    EXPECT_EQ(MusicExts[61], "PLS");
    EXPECT_EQ(MusicExts.last(), "XPL");
}

TEST(ClassifyFile, ByTheTextAfterTheLastDotOfAnExistingFile)
{
    QTemporaryDir dir;
    const struct
    {
        const char* name;
        FileClass expected;
    } cases[] = {{"b.JpG", fcPhoto},    {"b.mpeg", fcMusic}, {"b.htm", fcWebPage},
                 {"b.HTML", fcWebPage}, {"b.swf", fcFlash},  {"b.txt", fcText},
                 {"b.zip", fcOther},    {"noext", fcOther},  {"b.pls", fcMusic}};
    for (const auto& c : cases) {
        writeFile(dir.filePath(c.name), "x");
        EXPECT_EQ(ClassifyFile(dir.filePath(c.name)), c.expected) << c.name;
    }
    EXPECT_EQ(ClassifyFile(dir.filePath("missing.jpg")), fcOther);
    writeFile(dir.filePath("a.b/c"), "x");
    EXPECT_EQ(ClassifyFile(dir.filePath("a.b/c")), fcOther);
    QDir().mkpath(dir.filePath("folder.jpg"));
    EXPECT_EQ(ClassifyFile(dir.filePath("folder.jpg")), fcOther);
}

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

TEST(SafeRelativePath, CannotClimbOutOfItsRoot)
{
    EXPECT_EQ(SafeRelativePath("img/sub/x.gif"), "img/sub/x.gif");
    EXPECT_EQ(SafeRelativePath("../../etc/passwd"), "etc/passwd");
    EXPECT_EQ(SafeRelativePath("/abs//./x/"), "abs/x/");
    EXPECT_EQ(SafeRelativePath(".."), "");
    EXPECT_EQ(SafeRelativePath("..."), "...");
    EXPECT_EQ(SafeRelativePath(QString(300, u'a')).toUtf8().size(), 255);
}

TEST(CutToBytes, NeverCutsInsideACharacter)
{
    EXPECT_EQ(CutToBytes("short", 255), "short");
    const QString han(100, QChar(0x65B0)); // 3 bytes each in UTF-8
    EXPECT_EQ(CutToBytes(han, 10), QString(3, QChar(0x65B0)));
    const QString emoji = QString::fromUtf8("a😀😀");
    EXPECT_EQ(CutToBytes(emoji, 6), QString::fromUtf8("a😀"));
    EXPECT_EQ(CutToBytes(emoji, 4), "a");
}

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
    EXPECT_EQ(filesBelow(root + "/q.files"), QStringList({"a/b.gif", "c.gif", "d.gif", "e/f.gif",
                                                          "escape.gif", "x.gif?a=/.bashrc"}));
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

} // namespace

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
