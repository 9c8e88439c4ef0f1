#include "Drops.h"
#include "Errors.h"
#include "FakeBrowser.h"
#include "IniFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMimeData>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class Dropping : public ::testing::Test
{
protected:
    void SetUp() override
    {
        paths.collectionRoot = tmp.filePath("coll") + "/";
        paths.favoritesDir = tmp.filePath("home/Favorites") + "/";
        for (const char* sub : {"Photo", "Text", "Files", "Music", "Flash", "WebPage"})
            QDir(paths.collectionRoot).mkpath(sub);
        qputenv("XDG_CACHE_HOME", tmp.filePath("xdgcache").toUtf8());
    }
    void TearDown() override { qunsetenv("XDG_CACHE_HOME"); }
    TextDrop text(const QString& t) { return {TextDrop::PlainText, t, {}}; }
    TextDrop urls(const QString& t, const QString& d = {}) { return {TextDrop::Url, t, d}; }
    TextDrop files(const QStringList& paths)
    {
        return {TextDrop::FileList, paths.join("\r\n"), {}};
    }
    QTemporaryDir tmp;
    Paths paths;
    Drops drops{paths, nullptr};
};

TEST_F(Dropping, BlankTextStoresNothingOtherTextIsKeptWithCrLf)
{
    drops.StoreTextDrop(text(" \r\n\t  \n"));
    EXPECT_TRUE(filesIn(paths.collectionRoot + "Text").isEmpty());

    drops.StoreTextDrop(text("  word  "));
    const QStringList stored = filesIn(paths.collectionRoot + "Text");
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(QRegularExpression("^\\d{1,10}\\.txt$").match(stored[0]).hasMatch());
    EXPECT_EQ(readFile(paths.collectionRoot + "Text/" + stored[0]), "  word  \r\n");

    drops.StoreTextDrop(text(QStringLiteral("新闻")));
    EXPECT_EQ(filesIn(paths.collectionRoot + "Text").size(), 2);
}

TEST_F(Dropping, TextThatCannotBeWrittenIsReported)
{
    writeFile(tmp.filePath("blocker"), "a file where a folder should be");
    paths.collectionRoot = tmp.filePath("blocker") + "/";
    EXPECT_THROW(drops.StoreTextDrop(text("keep me")), InOutError);
}

TEST_F(Dropping, FilesGoToTheFolderOfTheirKind)
{
    const QString src = tmp.filePath("src");
    writeFile(src + "/a.JPG", "new photo");
    writeFile(src + "/song.mp3", "mp3");
    writeFile(src + "/movie.swf", "swf");
    writeFile(src + "/notes.txt", "txt");
    writeFile(src + "/page.html", "html");
    writeFile(src + "/archive.zip", "zip");
    writeFile(paths.collectionRoot + "Photo/a.JPG", "old photo");
    drops.StoreTextDrop(files({src + "/a.JPG", src + "/song.mp3", src + "/movie.swf",
                               src + "/notes.txt", src + "/page.html", src + "/archive.zip"}));
    EXPECT_EQ(readFile(paths.collectionRoot + "Photo/a.JPG"), "new photo"); // replaced
    EXPECT_EQ(readFile(paths.collectionRoot + "Music/song.mp3"), "mp3");
    EXPECT_EQ(readFile(paths.collectionRoot + "Flash/movie.swf"), "swf");
    EXPECT_EQ(readFile(paths.collectionRoot + "Text/notes.txt"), "txt");
    EXPECT_EQ(readFile(paths.collectionRoot + "WebPage/page.html"), "html");
    EXPECT_EQ(readFile(paths.collectionRoot + "Files/archive.zip"), "zip");
}

TEST_F(Dropping, AFileDroppedOntoItselfIsKept)
{
    writeFile(paths.collectionRoot + "Photo/self.png", "precious");
    drops.StoreTextDrop(files({paths.collectionRoot + "Photo/self.png"}));
    EXPECT_EQ(readFile(paths.collectionRoot + "Photo/self.png"), "precious");
}

TEST_F(Dropping, DeletedKindFolderIsNotRecreatedForOrdinaryFiles)
{
    QDir(paths.collectionRoot + "Music").removeRecursively();
    writeFile(tmp.filePath("src/song.mp3"), "mp3");
    drops.StoreTextDrop(files({tmp.filePath("src/song.mp3")}));
    EXPECT_FALSE(QDir(paths.collectionRoot + "Music").exists());
}

TEST_F(Dropping, AFolderIsCopiedUnderFiles)
{
    const QString docs = tmp.filePath("Docs");
    writeFile(docs + "/a.txt", "a");
    writeFile(docs + "/sub/b.txt", "b");
    drops.StoreTextDrop(files({docs + "/"}));
    EXPECT_EQ(readFile(paths.collectionRoot + "Files/Docs/a.txt"), "a");
    EXPECT_EQ(readFile(paths.collectionRoot + "Files/Docs/sub/b.txt"), "b");
}

TEST_F(Dropping, ShortcutFilesGoToFavoritesWhateverTheirCase)
{
    writeFile(tmp.filePath("src/Home.URL"), "[InternetShortcut]\r\nURL=http://h/\r\n");
    writeFile(tmp.filePath("src/app.lnk"), "lnk");
    drops.StoreTextDrop(files({tmp.filePath("src/Home.URL"), tmp.filePath("src/app.lnk")}));
    EXPECT_EQ(filesIn(paths.favoritesDir), QStringList({"Home.URL", "app.lnk"}));
}

TEST_F(Dropping, PictureLinkAPageShowsIsCopiedFromTheBrowserOtherLinksBecomeShortcuts)
{
    // No capture ran before: the open pages themselves say what they show.
    FakeBrowser browser;
    auto doc = browser.newDocument("http://h/news.htm", "News");
    doc->addToBody("IMG", {{"src", "img/logo%5B1%5D.gif"}});
    browser.addPage(doc);
    browser.hold("http://h/img/logo%5B1%5D.gif", "GIF89a");
    browser.hold("http://h/img/other.gif", "GIF89b"); // held, but no open page shows it
    browser.hold("http://h/news.htm", "<html></html>");
    Drops fromBrowser(paths, nullptr, &browser);

    fromBrowser.StoreTextDrop(urls("http://h/img/logo%5B1%5D.gif", "Logo"));
    EXPECT_EQ(filesIn(paths.collectionRoot + "Photo"), QStringList({"logo1.gif"}));
    EXPECT_EQ(readFile(paths.collectionRoot + "Photo/logo1.gif"), "GIF89a");
    EXPECT_FALSE(QDir(paths.favoritesDir).exists());

    fromBrowser.StoreTextDrop(urls("http://h/img/other.gif", "Other picture"));
    EXPECT_EQ(
        IniFile::ReadString(paths.favoritesDir + "Other picture.url", "InternetShortCut", "URL"),
        "http://h/img/other.gif");

    // A page is no picture: a shortcut, rewritten by the next drop of the same link.
    fromBrowser.StoreTextDrop(urls("http://h/news.htm", "News"));
    fromBrowser.StoreTextDrop(urls("http://h/news.htm?v=2", "News"));
    EXPECT_EQ(IniFile::ReadString(paths.favoritesDir + "News.url", "InternetShortCut", "URL"),
              "http://h/news.htm?v=2");
}

TEST_F(Dropping, LinksWithoutWebSchemeOrDescriptionStoreNothing)
{
    drops.StoreTextDrop(urls("file:///etc/hostname\r\nmailto:a@b.c", "Desc"));
    drops.StoreTextDrop(urls("http://h/page.htm", "   "));
    EXPECT_FALSE(QDir(paths.favoritesDir).exists() && !filesIn(paths.favoritesDir).isEmpty());
}

TEST_F(Dropping, DescriptionIsMadeSafeBeforeItNamesAFile)
{
    drops.StoreTextDrop(urls("http://h/a", "../../escape/me"));
    drops.StoreTextDrop(urls("http://h/b", QString(400, u'x')));
    QDirIterator it(tmp.path(), QDir::Files, QDirIterator::Subdirectories);
    QStringList all;
    while (it.hasNext())
        all << it.next();
    for (const QString& f : all)
        EXPECT_TRUE(f.startsWith(paths.favoritesDir)) << f.toStdString();
    EXPECT_TRUE(QFile::exists(paths.favoritesDir + "..-..-escape-me.url"));
    EXPECT_EQ(filesIn(paths.favoritesDir).size(), 2);
}

TEST_F(Dropping, PictureIsSavedAsANewBmpInPhoto)
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    EXPECT_TRUE(drops.StorePictureDrop(PictureDrop{image, {}}));
    const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2\" height=\"2\"/>";
    EXPECT_TRUE(drops.StorePictureDrop(PictureDrop{QImage(), svg}));
    const QStringList stored = filesIn(paths.collectionRoot + "Photo");
    ASSERT_EQ(stored.size(), 2);
    int bitmaps = 0, vectors = 0;
    for (const QString& name : stored) {
        EXPECT_TRUE(name.endsWith(".bmp"));
        const QByteArray bytes = readFile(paths.collectionRoot + "Photo/" + name);
        bitmaps += bytes.startsWith("BM");
        vectors += bytes == svg; // a vector picture keeps its own format
    }
    EXPECT_EQ(bitmaps, 1);
    EXPECT_EQ(vectors, 1);
    EXPECT_TRUE(drops.StorePictureDrop(PictureDrop{})); // no picture: nothing to do
    EXPECT_EQ(filesIn(paths.collectionRoot + "Photo").size(), 2);
}

TEST(DecodeDrops, UrlWithTitleThenFilesThenText)
{
    QMimeData link;
    const QString moz = "http://h/page.htm\nDaily News";
    link.setData("text/x-moz-url",
                 QByteArray(reinterpret_cast<const char*>(moz.utf16()), moz.size() * 2));
    link.setText("ignored");
    auto d = DecodeTextDrop(&link);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->format, TextDrop::Url);
    EXPECT_EQ(d->text, "http://h/page.htm");
    EXPECT_EQ(d->description, "Daily News");

    QMimeData list;
    list.setUrls({QUrl::fromLocalFile("/tmp/a b.txt"), QUrl::fromLocalFile("/tmp/c")});
    d = DecodeTextDrop(&list);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->format, TextDrop::FileList);
    EXPECT_EQ(d->text, "/tmp/a b.txt\r\n/tmp/c");

    QMimeData web;
    web.setUrls({QUrl("https://h/x.gif"), QUrl::fromLocalFile("/tmp/c")});
    d = DecodeTextDrop(&web);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->format, TextDrop::Url);
    EXPECT_EQ(d->text, "https://h/x.gif");

    QMimeData plain;
    plain.setText("hello");
    d = DecodeTextDrop(&plain);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->format, TextDrop::PlainText);

    QMimeData none;
    none.setData("application/octet-stream", "x");
    EXPECT_FALSE(DecodeTextDrop(&none));
    EXPECT_FALSE(DecodePictureDrop(&none));

    QMimeData picture;
    QImage img(2, 2, QImage::Format_RGB32);
    img.fill(Qt::blue);
    picture.setImageData(img);
    const auto p = DecodePictureDrop(&picture);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->bitmap.isNull());
}

} // namespace
