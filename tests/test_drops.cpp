#include "Errors.h"
#include "FakeBrowser.h"
#include "IniFile.h"
#include "TestFiles.h"
#include "u_Drops.h"
#include "u_Store.h"

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

class Drops : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CollectionRoot = tmp.filePath("coll") + "/";
        FavoritesDir = tmp.filePath("home/Favorites") + "/";
        for (const char* sub : {"Photo", "Text", "Files", "Music", "Flash", "WebPage"})
            QDir(CollectionRoot).mkpath(sub);
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
};

TEST_F(Drops, BlankTextStoresNothingOtherTextIsKeptWithCrLf)
{
    TTDrop(text(" \r\n\t  \n"), nullptr);
    EXPECT_TRUE(filesIn(CollectionRoot + "Text").isEmpty());

    TTDrop(text("  word  "), nullptr);
    const QStringList stored = filesIn(CollectionRoot + "Text");
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(QRegularExpression("^\\d{1,10}\\.txt$").match(stored[0]).hasMatch());
    EXPECT_EQ(readFile(CollectionRoot + "Text/" + stored[0]), "  word  \r\n");

    TTDrop(text(QStringLiteral("新闻")), nullptr);
    EXPECT_EQ(filesIn(CollectionRoot + "Text").size(), 2);
}

TEST_F(Drops, TextThatCannotBeWrittenIsReported)
{
    writeFile(tmp.filePath("blocker"), "a file where a folder should be");
    CollectionRoot = tmp.filePath("blocker") + "/";
    EXPECT_THROW(TTDrop(text("keep me"), nullptr), InOutError);
}

TEST_F(Drops, FilesGoToTheFolderOfTheirKind)
{
    const QString src = tmp.filePath("src");
    writeFile(src + "/a.JPG", "new photo");
    writeFile(src + "/song.mp3", "mp3");
    writeFile(src + "/movie.swf", "swf");
    writeFile(src + "/notes.txt", "txt");
    writeFile(src + "/page.html", "html");
    writeFile(src + "/archive.zip", "zip");
    writeFile(CollectionRoot + "Photo/a.JPG", "old photo");
    TTDrop(files({src + "/a.JPG", src + "/song.mp3", src + "/movie.swf", src + "/notes.txt",
                  src + "/page.html", src + "/archive.zip"}),
           nullptr);
    EXPECT_EQ(readFile(CollectionRoot + "Photo/a.JPG"), "new photo"); // replaced
    EXPECT_EQ(readFile(CollectionRoot + "Music/song.mp3"), "mp3");
    EXPECT_EQ(readFile(CollectionRoot + "Flash/movie.swf"), "swf");
    EXPECT_EQ(readFile(CollectionRoot + "Text/notes.txt"), "txt");
    EXPECT_EQ(readFile(CollectionRoot + "WebPage/page.html"), "html");
    EXPECT_EQ(readFile(CollectionRoot + "Files/archive.zip"), "zip");
}

TEST_F(Drops, AFileDroppedOntoItselfIsKept)
{
    writeFile(CollectionRoot + "Photo/self.png", "precious");
    TTDrop(files({CollectionRoot + "Photo/self.png"}), nullptr);
    EXPECT_EQ(readFile(CollectionRoot + "Photo/self.png"), "precious");
}

TEST_F(Drops, DeletedKindFolderIsNotRecreatedForOrdinaryFiles)
{
    QDir(CollectionRoot + "Music").removeRecursively();
    writeFile(tmp.filePath("src/song.mp3"), "mp3");
    TTDrop(files({tmp.filePath("src/song.mp3")}), nullptr);
    EXPECT_FALSE(QDir(CollectionRoot + "Music").exists());
}

TEST_F(Drops, AFolderIsCopiedUnderFiles)
{
    const QString docs = tmp.filePath("Docs");
    writeFile(docs + "/a.txt", "a");
    writeFile(docs + "/sub/b.txt", "b");
    TTDrop(files({docs + "/"}), nullptr);
    EXPECT_EQ(readFile(CollectionRoot + "Files/Docs/a.txt"), "a");
    EXPECT_EQ(readFile(CollectionRoot + "Files/Docs/sub/b.txt"), "b");
}

TEST_F(Drops, ShortcutFilesGoToFavoritesWhateverTheirCase)
{
    writeFile(tmp.filePath("src/Home.URL"), "[InternetShortcut]\r\nURL=http://h/\r\n");
    writeFile(tmp.filePath("src/app.lnk"), "lnk");
    TTDrop(files({tmp.filePath("src/Home.URL"), tmp.filePath("src/app.lnk")}), nullptr);
    EXPECT_EQ(filesIn(FavoritesDir), QStringList({"Home.URL", "app.lnk"}));
}

TEST_F(Drops, PictureLinkAPageShowsIsCopiedFromTheBrowserOtherLinksBecomeShortcuts)
{
    // No capture ran before: the open pages themselves say what they show.
    FakeBrowser browser;
    auto doc = browser.newDocument("http://h/news.htm", "News");
    doc->addToBody("IMG", {{"src", "img/logo%5B1%5D.gif"}});
    browser.addPage(doc);
    browser.hold("http://h/img/logo%5B1%5D.gif", "GIF89a");
    browser.hold("http://h/img/other.gif", "GIF89b"); // held, but no open page shows it
    browser.hold("http://h/news.htm", "<html></html>");

    TTDrop(urls("http://h/img/logo%5B1%5D.gif", "Logo"), nullptr, &browser);
    EXPECT_EQ(filesIn(CollectionRoot + "Photo"), QStringList({"logo1.gif"}));
    EXPECT_EQ(readFile(CollectionRoot + "Photo/logo1.gif"), "GIF89a");
    EXPECT_FALSE(QDir(FavoritesDir).exists());

    TTDrop(urls("http://h/img/other.gif", "Other picture"), nullptr, &browser);
    EXPECT_EQ(IniFile::ReadString(FavoritesDir + "Other picture.url", "InternetShortCut", "URL"),
              "http://h/img/other.gif");

    // A page is no picture: a shortcut, rewritten by the next drop of the same link.
    TTDrop(urls("http://h/news.htm", "News"), nullptr, &browser);
    TTDrop(urls("http://h/news.htm?v=2", "News"), nullptr, &browser);
    EXPECT_EQ(IniFile::ReadString(FavoritesDir + "News.url", "InternetShortCut", "URL"),
              "http://h/news.htm?v=2");
}

TEST_F(Drops, LinksWithoutWebSchemeOrDescriptionStoreNothing)
{
    TTDrop(urls("file:///etc/hostname\r\nmailto:a@b.c", "Desc"), nullptr);
    TTDrop(urls("http://h/page.htm", "   "), nullptr);
    EXPECT_FALSE(QDir(FavoritesDir).exists() && !filesIn(FavoritesDir).isEmpty());
}

TEST_F(Drops, DescriptionIsMadeSafeBeforeItNamesAFile)
{
    TTDrop(urls("http://h/a", "../../escape/me"), nullptr);
    TTDrop(urls("http://h/b", QString(400, u'x')), nullptr);
    QDirIterator it(tmp.path(), QDir::Files, QDirIterator::Subdirectories);
    QStringList all;
    while (it.hasNext())
        all << it.next();
    for (const QString& f : all)
        EXPECT_TRUE(f.startsWith(FavoritesDir)) << f.toStdString();
    EXPECT_TRUE(QFile::exists(FavoritesDir + "..-..-escape-me.url"));
    EXPECT_EQ(filesIn(FavoritesDir).size(), 2);
}

TEST_F(Drops, PictureIsSavedAsANewBmpInPhoto)
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    EXPECT_TRUE(GTDrop(PictureDrop{image, {}}));
    const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2\" height=\"2\"/>";
    EXPECT_TRUE(GTDrop(PictureDrop{QImage(), svg}));
    const QStringList stored = filesIn(CollectionRoot + "Photo");
    ASSERT_EQ(stored.size(), 2);
    int bitmaps = 0, vectors = 0;
    for (const QString& name : stored) {
        EXPECT_TRUE(name.endsWith(".bmp"));
        const QByteArray bytes = readFile(CollectionRoot + "Photo/" + name);
        bitmaps += bytes.startsWith("BM");
        vectors += bytes == svg; // a vector picture keeps its own format
    }
    EXPECT_EQ(bitmaps, 1);
    EXPECT_EQ(vectors, 1);
    EXPECT_TRUE(GTDrop(PictureDrop{})); // no picture: nothing to do
    EXPECT_EQ(filesIn(CollectionRoot + "Photo").size(), 2);
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
