// The web page saver: page names, the files of a saved page, the addresses rewritten in it,
// framesets, the page bar, and pages built to push files out of the collection.
#include "CaptureRun.h"
#include "FakeBrowser.h"
#include "FileNames.h"
#include "IniFile.h"
#include "PageSaver.h"
#include "TestFiles.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

// Failure messages show texts as text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

bool matches(const QString& pattern, const QString& text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

// A bar with the usual clamping that remembers every position the engine set.
class RecordingBar : public PlainProgressBar
{
public:
    void setPosition(int value) override
    {
        PlainProgressBar::setPosition(value);
        positions.push_back(position());
    }
    std::vector<int> positions;
};

class SavePage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        QDir().mkpath(dest);
        engine.displays.page = &pageLabel;
        engine.displays.url = &urlLabel;
        engine.displays.file = &fileLabel;
        engine.displays.pageBar = &pageBar;
    }

    // A new page in the browser; pages() lists them in the order opened.
    FakeDocumentPtr openPage(const QString& url, const QString& title)
    {
        const FakeDocumentPtr doc = browser.newDocument(url, title);
        browser.addPage(doc);
        return doc;
    }

    // The name the saver gives a document with this address and title and no body.
    QString pageName(const QString& url, const QString& title)
    {
        PageSnapshot doc;
        doc.address = url;
        doc.title = title;
        return PageSaver(browser, engine.displays).makePageName(doc, dest);
    }

    void saveAll() { engine.capturePages(dest, Scope::AllPages, CaptureKind::WebPage); }
    QByteArray saved(const QString& rel) const { return readFile(dest + u'/' + rel); }
    QString savedHtml(const QString& rel) const { return QString::fromUtf8(saved(rel)); }
    QString storedUrl(const QString& name) const
    {
        return IniFile::ReadString(dest + u'/' + name + QStringLiteral(".files/url.ini"),
                                   QStringLiteral("Site"), QStringLiteral("URL"));
    }

    QTemporaryDir tmp;
    QString dest = tmp.filePath(QStringLiteral("coll/WebPage"));
    FakeBrowser browser;
    CaptureRun engine{&browser};
    PlainTextDisplay pageLabel;
    PlainTextDisplay urlLabel;
    PlainTextDisplay fileLabel;
    RecordingBar pageBar;
};

// ---- page names ------------------------------------------------------------------------------

TEST_F(SavePage, DifferentPagesWithOneTitleGetCounters)
{
    for (const char* url : {"http://a/1.htm", "http://b/2.htm", "http://c/3.htm"})
        openPage(url, QStringLiteral("News"));
    saveAll();
    EXPECT_EQ(filesBelow(dest),
              QStringList({"News(1).files/url.ini", "News(1).htm", "News(2).files/url.ini",
                           "News(2).htm", "News.files/url.ini", "News.htm"}));
    EXPECT_EQ(storedUrl("News"), "http://a/1.htm");
    EXPECT_EQ(storedUrl("News(1)"), "http://b/2.htm");
    EXPECT_EQ(storedUrl("News(2)"), "http://c/3.htm");
    EXPECT_EQ(saved("News.files/url.ini"), "[Site]\r\nURL=http://a/1.htm\r\n");
}

struct ExistingPage
{
    const char* name;
    bool pageFile;
    const char* storedUrl; // nullptr: no url.ini
};

struct NameCase
{
    const char* what;
    const char* title;
    std::vector<ExistingPage> existing;
    const char* expected;
};

class PageNameInUse : public SavePage, public ::testing::WithParamInterface<NameCase>
{};

TEST_P(PageNameInUse, StoredUrlDecidesWhetherTheNameIsFree)
{
    const NameCase c = GetParam();
    for (const ExistingPage& e : c.existing) {
        const QString name = QString::fromUtf8(e.name);
        if (e.pageFile)
            writeFile(dest + u'/' + name + QStringLiteral(".htm"), "<HTML></HTML>");
        if (e.storedUrl)
            writeFile(dest + u'/' + name + QStringLiteral(".files/url.ini"),
                      QByteArray("[Site]\r\nURL=") + e.storedUrl + "\r\n");
    }
    EXPECT_EQ(pageName(QStringLiteral("http://h/d/p.htm"), c.title), QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PageNameInUse,
    ::testing::Values(
        NameCase{"free", "News", {}, "News"},
        NameCase{"samePageAgain", "News", {{"News", true, "http://h/d/p.htm"}}, "News"},
        NameCase{"sameUrlOtherLetterCase", "News", {{"News", true, "HTTP://H/D/P.HTM"}}, "News"},
        NameCase{"otherPage", "News", {{"News", true, "http://h/other.htm"}}, "News(1)"},
        NameCase{"twoOthers",
                 "News",
                 {{"News", true, "http://x/"}, {"News(1)", true, "http://y/"}},
                 "News(2)"},
        NameCase{"counterContinues", "Report(3)", {{"Report(3)", true, "http://x/"}}, "Report(4)"},
        NameCase{"pageFileWithoutUrlIni", "News", {{"News", true, nullptr}}, "News"},
        NameCase{"urlIniWithoutPageFile", "News", {{"News", false, "http://x/"}}, "News"},
        NameCase{"emptyStoredUrl", "News", {{"News", true, ""}}, "News"},
        NameCase{"nextCounterWithoutUrlIni",
                 "News",
                 {{"News", true, "http://x/"}, {"News(1)", true, nullptr}},
                 "News(1)"},
        NameCase{"nextCounterIsTheSamePage",
                 "News",
                 {{"News", true, "http://x/"}, {"News(1)", true, "http://h/d/P.htm"}},
                 "News(1)"}),
    [](const auto& info) { return std::string(info.param.what); });

struct FallbackCase
{
    const char* what;
    QString title;
    std::optional<QString> body; // nullopt: the document has no body
    const char* expected;        // a pattern
};

class PageNameFallback : public SavePage, public ::testing::WithParamInterface<FallbackCase>
{};

TEST_P(PageNameFallback, TitleThenBodyTextThenRandomDigits)
{
    const FallbackCase c = GetParam();
    const FakeDocumentPtr doc = openPage(QStringLiteral("http://h/p.htm"), c.title);
    if (!c.body)
        doc->removeBody();
    else if (!c.body->isEmpty())
        doc->addToBody("P", {}, *c.body);

    saveAll();
    const QStringList files = filesBelow(dest);
    ASSERT_EQ(files.size(), 2) << files.join(u' ').toStdString();
    const QString name = files[1].chopped(4);
    EXPECT_TRUE(matches(QString::fromUtf8(c.expected), name)) << name.toStdString();
    EXPECT_EQ(files, QStringList({name + ".files/url.ini", name + ".htm"}));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PageNameFallback,
    ::testing::Values(
        FallbackCase{"cleanedTitle", "Shop/Cart: \"Deals\"", QString(), "Shop-Cart Deals"},
        FallbackCase{"forbiddenOnly", "???",
                     QStringLiteral("Breaking: storms across the north coast tonight"),
                     "Breaking storms across the no"},
        FallbackCase{"blankTitle", " \t ", QStringLiteral("  Lead story\r\nmore"),
                     "Lead storymore"},
        FallbackCase{"blankBody", "<|>", QStringLiteral(" \n "), "\\d{1,10}"},
        FallbackCase{"noBody", "", std::nullopt, "\\d{1,10}"}),
    [](const auto& info) { return std::string(info.param.what); });

struct LongNameCase
{
    const char* what;
    QString title;
    qsizetype expectedChars;
};

class LongPageName : public SavePage, public ::testing::WithParamInterface<LongNameCase>
{};

TEST_P(LongPageName, FitsTheFileSystemWithItsFilesFolderAndCounter)
{
    const LongNameCase c = GetParam();
    const FakeDocumentPtr first = openPage(QStringLiteral("http://h/1.htm"), c.title);
    first->addToBody("P", {}, "first");
    openPage(QStringLiteral("http://h/2.htm"), c.title);
    saveAll();
    first->addToBody("P", {}, "saved again");
    saveAll();

    const QString name = pageName(QStringLiteral("http://h/1.htm"), c.title);
    EXPECT_EQ(name.size(), c.expectedChars);
    EXPECT_TRUE(c.title.startsWith(name));
    EXPECT_LE(name.toUtf8().size(), 249);
    EXPECT_TRUE(QStringView(name).isValidUtf16());

    const QString second = pageName(QStringLiteral("http://h/2.htm"), c.title);
    EXPECT_TRUE(second.endsWith(QStringLiteral("(1)"))) << second.toStdString();
    EXPECT_LE(second.toUtf8().size(), 249);
    EXPECT_TRUE(QStringView(second).isValidUtf16());

    QStringList expected = {name + ".files/url.ini", name + ".htm", second + ".files/url.ini",
                            second + ".htm"};
    expected.sort();
    EXPECT_EQ(filesBelow(dest), expected);
    EXPECT_TRUE(savedHtml(name + ".htm").contains("saved again"));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, LongPageName,
    ::testing::Values(LongNameCase{"fits", QString(249, u'a'), 249},
                      LongNameCase{"under255KeptButCutToBytes", QString(254, u'a'), 249},
                      LongNameCase{"over255CutTo250ThenToBytes", QString(300, u'a'), 249},
                      // 3 bytes a character: 83 characters are 249 bytes
                      LongNameCase{"chinese", QString(300, QChar(0x65B0)), 83},
                      // 4 bytes a pair: 62 pairs are 248 bytes
                      LongNameCase{"surrogatePairs", QString::fromUtf8("😀").repeated(300), 124}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(SavePage, ErrorWhileChoosingANameSkipsOnlyThatPage)
{
    // The title gives no name, and reading the body's text for one fails.
    openPage(QStringLiteral("http://h/a.htm"), QStringLiteral("??"))->addToBody("P", {}, "text");
    openPage(QStringLiteral("http://h/b.htm"), QStringLiteral("Next"));
    browser.failAfter("text", 0, 1);
    EXPECT_NO_THROW(saveAll());
    EXPECT_EQ(filesBelow(dest), QStringList({"Next.files/url.ini", "Next.htm"}));
}

// ---- files and rewritten addresses -----------------------------------------------------------

TEST_F(SavePage, ClassicPassesCopyTheirResourcesBesideThePageAndRewriteTheirAddresses)
{
    const FakeDocumentPtr doc =
        openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("News"));
    doc->addToHead("LINK", {{"rel", "stylesheet"}, {"href", "css/site.css"}});
    doc->addToHead("LINK", {{"rel", "icon"}, {"HREF", "/favicon.ico"}});
    doc->addToHead("SCRIPT", {{"src", "js/app.js"}});
    doc->addToHead("SCRIPT", {}, "var inline = 1;");
    doc->addToBody("IMG", {{"Src", "img/x.gif"}});
    doc->addToBody("IMG", {{"src", "img/missing.gif"}});
    doc->addToBody("IMG", {{"src", "http://cdn.example/lib/pic.png"}});
    doc->addToBody("EMBED", {{"src", "media/tune.mid"}});
    doc->addToBody("EMBED", {{"src", "  "}});
    FakeElement* object = doc->addToBody("OBJECT", {{"classid", "flash"}});
    object->setMovie(QStringLiteral("flash/intro.swf"));
    doc->addToBody("OBJECT", {{"classid", "other"}}); // no movie member
    doc->addToBody("BGSOUND", {{"src", "snd/first.wav"}});
    doc->addToBody("BGSOUND", {{"src", "snd/second.wav"}});
    doc->addToBody("A", {{"href", "img/x.gif"}}, "a link is left alone");
    engine.classicPages = true;

    browser.hold("http://h/d/css/site.css", "CSS");
    browser.hold("http://h/favicon.ico", "ICO");
    browser.hold("http://h/d/js/app.js", "JS");
    browser.hold("http://h/d/img/x.gif", "GIF");
    browser.hold("http://cdn.example/lib/pic.png", "PNG");
    browser.hold("http://h/d/media/tune.mid", "MID");
    browser.hold("http://h/d/flash/intro.swf", "SWF");
    browser.hold("http://h/d/snd/first.wav", "WAV1");
    browser.hold("http://h/d/snd/second.wav", "WAV2");

    saveAll();

    EXPECT_EQ(filesBelow(dest), QStringList({"News.files/css/site.css", "News.files/favicon.ico",
                                             "News.files/flash/intro.swf", "News.files/img/x.gif",
                                             "News.files/js/app.js", "News.files/media/tune.mid",
                                             "News.files/pic.png", "News.files/snd/first.wav",
                                             "News.files/url.ini", "News.htm"}));
    EXPECT_EQ(saved("News.files/img/x.gif"), "GIF");
    EXPECT_EQ(saved("News.files/snd/first.wav"), "WAV1");

    const QString html = savedHtml("News.htm");
    for (const char* expected :
         {"<LINK rel=\"stylesheet\" href=\"News.files/css/site.css\">",
          "<LINK rel=\"icon\" HREF=\"News.files/favicon.ico\">",
          "<SCRIPT src=\"News.files/js/app.js\"></SCRIPT>", "<SCRIPT>var inline = 1;</SCRIPT>",
          "<IMG Src=\"News.files/img/x.gif\">", "<IMG src=\"img/missing.gif\">",
          "<IMG src=\"News.files/pic.png\">", "<EMBED src=\"News.files/media/tune.mid\">",
          "<EMBED src=\"  \">",
          "<OBJECT classid=\"flash\" src=\"News.files/flash/intro.swf\" "
          "Movie=\"News.files/flash/intro.swf\"></OBJECT>",
          "<OBJECT classid=\"other\"></OBJECT>", "<BGSOUND src=\"News.files/snd/first.wav\">",
          "<BGSOUND src=\"snd/second.wav\">", "<A href=\"img/x.gif\">"})
        EXPECT_TRUE(html.contains(QLatin1String(expected))) << expected << "\n"
                                                            << html.toStdString();
}

TEST_F(SavePage, PageWithNothingHeldNamesEveryResourceByItsWebAddress)
{
    const FakeDocumentPtr doc =
        openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("News"));
    doc->addToHead("LINK", {{"rel", "stylesheet"}, {"href", "s.css"}});
    doc->addToBody("IMG", {{"src", "x.gif"}});
    doc->addToBody("BGSOUND", {{"src", "/s.wav"}});
    const QString before = doc->html();
    saveAll();
    EXPECT_EQ(filesBelow(dest), QStringList({"News.files/url.ini", "News.htm"}));
    EXPECT_EQ(savedHtml("News.htm"),
              "<HTML><HEAD><LINK rel=\"stylesheet\" href=\"http://h/d/s.css\"></HEAD><BODY>"
              "<IMG src=\"http://h/d/x.gif\"><BGSOUND src=\"http://h/s.wav\"></BODY></HTML>");

    // The classic passes leave every address as the page wrote it.
    engine.classicPages = true;
    saveAll();
    EXPECT_EQ(savedHtml("News.htm"), before);
}

TEST_F(SavePage, ThePageNamesACopyOnlyWhereOneWasWritten)
{
    const FakeDocumentPtr doc =
        openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("News"));
    doc->addToBody("IMG", {{"src", "img/x.gif"}});
    doc->addToBody("EMBED", {{"src", "snd/y.mid"}});
    browser.hold("http://h/d/img/x.gif", "new picture");
    browser.hold("http://h/d/snd/y.mid", "MID");
    writeFile(dest + QStringLiteral("/News.files/img/x.gif"), "old picture");
    // A file stands where the tune's folder should be.
    writeFile(dest + QStringLiteral("/News.files/snd"), "not a folder");

    saveAll();

    const QStringList files = filesBelow(dest + QStringLiteral("/News.files/img"));
    ASSERT_EQ(files.size(), 2);
    const QString renamed = files[0] == QLatin1String("x.gif") ? files[1] : files[0];
    EXPECT_TRUE(matches(QStringLiteral("x\\d{1,10}\\.gif"), renamed)) << renamed.toStdString();
    EXPECT_EQ(saved("News.files/img/x.gif"), "old picture");
    EXPECT_EQ(saved("News.files/img/" + renamed), "new picture");
    EXPECT_EQ(saved("News.files/snd"), "not a folder");
    const QString html = savedHtml("News.htm");
    EXPECT_TRUE(html.contains("<IMG src=\"News.files/img/" + renamed + "\">"))
        << html.toStdString();
    EXPECT_TRUE(html.contains("<EMBED src=\"http://h/d/snd/y.mid\">")) << html.toStdString();
}

TEST_F(SavePage, AddressesEscapeWhatABrowserWouldReadDifferently)
{
    const FakeDocumentPtr doc =
        openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("100% #1 deals"));
    doc->addToBody("IMG", {{"src", "img/q.gif?v=2"}});
    doc->addFrame(
        QStringLiteral("side"),
        browser.newDocument(QStringLiteral("http://h/d/side.htm"), QStringLiteral("Side #2")),
        QStringLiteral("side.htm"));
    browser.hold("http://h/d/img/q.gif?v=2", "Q");
    saveAll();

    // Opened from disk, the file's name must end in its extension: the query is left out.
    EXPECT_EQ(saved("100% #1 deals.files/img/q.gif"), "Q");
    EXPECT_TRUE(QFileInfo::exists(dest + QStringLiteral("/100% #1 deals.files/Side #2.htm")));
    const QString html = savedHtml("100% #1 deals.htm");
    const QString image = QStringLiteral("100%25 %231 deals.files/img/q.gif");
    const QString frame = QStringLiteral("100%25 %231 deals.files/Side %232.htm");
    EXPECT_TRUE(html.contains("src=\"" + image + "\"")) << html.toStdString();
    EXPECT_TRUE(html.contains("src=\"" + frame + "\"")) << html.toStdString();
    // Read back as a browser reads a relative address, each names the file written.
    EXPECT_EQ(QUrl::fromPercentEncoding(image.toUtf8()), "100% #1 deals.files/img/q.gif");
    EXPECT_EQ(QUrl::fromPercentEncoding(frame.toUtf8()), "100% #1 deals.files/Side #2.htm");
}

TEST_F(SavePage, SavingTwiceReusesTheNameAndTouchesNeitherUrlIniNorCopies)
{
    const FakeDocumentPtr doc =
        openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("News"));
    doc->addToBody("IMG", {{"src", "img/x.gif"}});
    doc->addToBody("EMBED", {{"src", "m.mid"}});
    browser.hold("http://h/d/img/x.gif", "GIF");
    browser.hold("http://h/d/m.mid", "MID");
    saveAll();

    const QDateTime old = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    const QStringList keep = {"News.files/url.ini", "News.files/img/x.gif", "News.files/m.mid"};
    for (const QString& rel : keep) {
        QFile f(dest + u'/' + rel);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const QByteArray iniBefore = saved("News.files/url.ini");
    doc->addToBody("P", {}, "added since the first save");

    saveAll();

    EXPECT_EQ(filesBelow(dest), QStringList({"News.files/img/x.gif", "News.files/m.mid",
                                             "News.files/url.ini", "News.htm"}));
    EXPECT_EQ(saved("News.files/url.ini"), iniBefore);
    for (const QString& rel : keep)
        EXPECT_EQ(QFileInfo(dest + u'/' + rel).lastModified(), old) << rel.toStdString();
    EXPECT_TRUE(savedHtml("News.htm").contains("added since the first save"));
    EXPECT_TRUE(savedHtml("News.htm").contains("src=\"News.files/img/x.gif\""));
}

// ---- framesets -------------------------------------------------------------------------------

class Frameset : public SavePage
{
protected:
    void SetUp() override
    {
        SavePage::SetUp();
        shop = openPage(QStringLiteral("http://h/shop/index.htm"), QStringLiteral("Shop"));
        shop->removeBody();
        frameset = shop->root()->add("FRAMESET", {{"cols", "20%,80%"}});
    }
    FakeDocumentPtr frameDoc(const QString& url, const QString& title)
    {
        return browser.newDocument(url, title);
    }
    FakeElement* frame(const QString& name, FakeDocumentPtr doc, const QString& src)
    {
        return shop->addFrame(name, std::move(doc), src, frameset);
    }

    FakeDocumentPtr shop;
    FakeElement* frameset = nullptr;
};

TEST_F(Frameset, FramePagesGoIntoTheResourceFolderWithTheirOwnFolders)
{
    const FakeDocumentPtr menu = frameDoc(QStringLiteral("http://h/shop/menu.htm"), "Menu");
    menu->addToBody("IMG", {{"src", "img/arrow.gif"}});
    const FakeDocumentPtr main = frameDoc(QStringLiteral("http://h/shop/main.htm"), "Main");
    const FakeDocumentPtr inner = frameDoc(QStringLiteral("http://h/shop/ad.htm"), "Ad");
    main->addFrame(QStringLiteral("ad"), inner, QStringLiteral("ad.htm"));
    frame(QStringLiteral("menu"), menu, QStringLiteral("menu.htm"));
    frame(QStringLiteral("main"), main, QStringLiteral("main.htm"));
    browser.hold("http://h/shop/img/arrow.gif", "ARROW");

    saveAll();

    EXPECT_EQ(filesBelow(dest),
              QStringList({"Shop.files/Main.files/Ad.files/url.ini", "Shop.files/Main.files/Ad.htm",
                           "Shop.files/Main.files/url.ini", "Shop.files/Main.htm",
                           "Shop.files/Menu.files/img/arrow.gif", "Shop.files/Menu.files/url.ini",
                           "Shop.files/Menu.htm", "Shop.files/url.ini", "Shop.htm"}));
    const QString html = savedHtml("Shop.htm");
    EXPECT_TRUE(html.contains("<FRAME name=\"menu\" src=\"Shop.files/Menu.htm\">"))
        << html.toStdString();
    EXPECT_TRUE(html.contains("<FRAME name=\"main\" src=\"Shop.files/Main.htm\">"));
    EXPECT_TRUE(savedHtml("Shop.files/Menu.htm").contains("src=\"Menu.files/img/arrow.gif\""));
    EXPECT_TRUE(savedHtml("Shop.files/Main.htm").contains("src=\"Main.files/Ad.htm\""));
    EXPECT_EQ(IniFile::ReadString(dest + QStringLiteral("/Shop.files/Menu.files/url.ini"),
                                  QStringLiteral("Site"), QStringLiteral("URL")),
              "http://h/shop/menu.htm");
}

TEST_F(Frameset, FramesThatCannotBeSavedAreSkippedOneByOne)
{
    // The broken frame's picture cannot be fetched: its save ends after its url.ini.
    const FakeDocumentPtr broken = frameDoc(QStringLiteral("http://h/shop/b.htm"), "Broken");
    broken->addToBody("IMG", {{"src", "b.gif"}});
    browser.hold("http://h/shop/b.gif", "B");
    browser.failAfter("fetch", 0, 1);
    const FakeDocumentPtr local = frameDoc(QStringLiteral("about:blank"), "Local");
    const FakeDocumentPtr noSrc = frameDoc(QStringLiteral("http://h/shop/n.htm"), "NoSrc");
    const FakeDocumentPtr main = frameDoc(QStringLiteral("http://h/shop/main.htm"), "Main");
    frame(QStringLiteral("broken"), broken, QStringLiteral("b.htm"));
    frame(QStringLiteral("local"), local, QStringLiteral("about:blank"));
    frame(QStringLiteral("nosrc"), noSrc, QString());
    frame(QStringLiteral("gone"), nullptr, QStringLiteral("gone.htm"));
    frameset->add("FRAME", {{"src", "unnamed.htm"}});
    frame(QStringLiteral("main"), main, QStringLiteral("main.htm"));

    EXPECT_NO_THROW(saveAll());

    EXPECT_EQ(filesBelow(dest),
              QStringList({"Shop.files/Broken.files/url.ini", "Shop.files/Main.files/url.ini",
                           "Shop.files/Main.htm", "Shop.files/url.ini", "Shop.htm"}));
    const QString html = savedHtml("Shop.htm");
    for (const char* expected :
         {"<FRAME name=\"nosrc\">", "<FRAME name=\"gone\" src=\"http://h/shop/gone.htm\">",
          "<FRAME src=\"http://h/shop/unnamed.htm\">",
          "<FRAME name=\"main\" src=\"Shop.files/Main.htm\">",
          "<FRAME name=\"broken\" src=\"http://h/shop/b.htm\">",
          "<FRAME name=\"local\" src=\"about:blank\">"})
        EXPECT_TRUE(html.contains(QLatin1String(expected))) << expected << "\n"
                                                            << html.toStdString();
}

TEST_F(Frameset, AFrameWhoseNameCannotBeChosenEndsTheFrameLoop)
{
    // No title, and reading the body's text for a name fails.
    const FakeDocumentPtr nameless = frameDoc(QStringLiteral("http://h/shop/x.htm"), "");
    browser.failAfter("text", 0, 1);
    frame(QStringLiteral("first"), frameDoc(QStringLiteral("http://h/shop/1.htm"), "First"),
          QStringLiteral("1.htm"));
    frame(QStringLiteral("nameless"), nameless, QStringLiteral("x.htm"));
    frame(QStringLiteral("last"), frameDoc(QStringLiteral("http://h/shop/2.htm"), "Last"),
          QStringLiteral("2.htm"));

    EXPECT_NO_THROW(saveAll());

    EXPECT_EQ(filesBelow(dest),
              QStringList({"Shop.files/First.files/url.ini", "Shop.files/First.htm",
                           "Shop.files/url.ini", "Shop.htm"}));
    EXPECT_TRUE(
        savedHtml("Shop.htm").contains("<FRAME name=\"last\" src=\"http://h/shop/2.htm\">"));
}

// ---- the page bar ----------------------------------------------------------------------------

TEST_F(SavePage, PageBarStepsForUrlIniEachShownFileAndThePageFile)
{
    const FakeDocumentPtr doc =
        openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("News"));
    doc->addToHead("SCRIPT", {{"src", "a.js"}}); // copied without a step
    doc->addToBody("IMG", {{"src", "a.gif"}});
    doc->addToBody("IMG", {{"src", "not-held.gif"}});
    doc->addToBody("EMBED", {{"src", "b.mid"}});
    browser.hold("http://h/d/a.js", "JS");
    browser.hold("http://h/d/a.gif", "GIF");
    browser.hold("http://h/d/b.mid", "MID");

    saveAll();
    // BeginPage, url.ini, a.gif, b.mid, the page file, EndPage
    EXPECT_EQ(pageBar.positions, std::vector<int>({0, 1, 2, 3, 4, 100}));
    EXPECT_EQ(fileLabel.text(), "http://h/d/b.mid");
    EXPECT_EQ(pageLabel.text(), "News");
    EXPECT_EQ(urlLabel.text(), "http://h/d/p.htm");

    pageBar.positions.clear();
    saveAll();
    EXPECT_EQ(pageBar.positions, std::vector<int>({0, 1, 2, 3, 100})) << "url.ini is there already";
}

// A page of many megabytes: while its copy is written the page bar keeps stepping, and only the
// page's end fills it.
TEST_F(SavePage, PageBarMovesWhileAHugePageIsWritten)
{
    const FakeDocumentPtr doc =
        openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("Huge"));
    doc->addToBody("P", {}, QString(24 * 1024 * 1024, u'x'));
    saveAll();
    const std::vector<int>& seen = pageBar.positions;
    ASSERT_GE(seen.size(), size_t(30));
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    const auto writing =
        std::count_if(seen.begin(), seen.end(), [](int p) { return p > 1 && p < 99; });
    EXPECT_GE(writing, 40) << "the bar stood still while the page file was written";
}

TEST_F(SavePage, PageBarStaysFullBeyondAHundredFiles)
{
    const FakeDocumentPtr doc =
        openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("Many"));
    for (int i = 0; i < 150; ++i) {
        const QString name = QStringLiteral("i") + QString::number(i) + QStringLiteral(".gif");
        doc->addToBody("IMG", {{"src", name}});
        browser.hold(QStringLiteral("http://h/d/") + name, QByteArray::number(i));
    }
    saveAll();
    ASSERT_EQ(pageBar.positions.size(), size_t(1 + 1 + 150 + 1 + 1));
    for (size_t i = 0; i < pageBar.positions.size(); ++i)
        EXPECT_EQ(pageBar.positions[i], qMin(int(i), 100)) << i;
    EXPECT_EQ(pageBar.max(), 100);
    EXPECT_EQ(filesBelow(dest + QStringLiteral("/Many.files")).size(), 151);
}

// ---- hostile pages ---------------------------------------------------------------------------

struct HostileCase
{
    const char* what;
    QString title;
};

class HostilePage : public SavePage, public ::testing::WithParamInterface<HostileCase>
{};

TEST_P(HostilePage, EveryFileStaysInsideTheDestination)
{
    const HostileCase c = GetParam();
    const QString base = QStringLiteral("http://h/d/p.htm");
    const FakeDocumentPtr doc = openPage(base, c.title);
    doc->addToBody("P", {}, c.title);
    const QStringList sources = {"img/x.gif?a=/../../../../escape1.gif",
                                 "x.gif?/../../../../../escape2.gif",
                                 "http://other/../../escape3.gif",
                                 "..%2F..%2Fescape4.gif",
                                 "img/?q=/../",
                                 "http://h/d/p.htm?/..//..//escape5"};
    for (const QString& src : sources) {
        doc->addToBody("IMG", {{"src", src}});
        doc->addToBody("EMBED", {{"src", src}});
        browser.hold(CombineUrl(base, src), "R");
    }
    const FakeDocumentPtr framed = browser.newDocument(QStringLiteral("http://h/d/f.htm"), c.title);
    framed->addToBody("IMG", {{"src", sources[0]}});
    doc->addFrame(QStringLiteral("f"), framed, QStringLiteral("f.htm"));

    for (CaptureKind kind : {CaptureKind::WebPage, CaptureKind::WebPage, CaptureKind::Photo,
                             CaptureKind::Music, CaptureKind::Text})
        EXPECT_NO_THROW(engine.capturePages(dest, Scope::AllPages, kind)) << int(kind);

    QDirIterator all(tmp.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                     QDirIterator::Subdirectories);
    int written = 0;
    while (all.hasNext()) {
        const QString f = all.next();
        if (f == dest || f == tmp.filePath(QStringLiteral("coll")))
            continue;
        ++written;
        EXPECT_TRUE(f.startsWith(dest + u'/')) << f.toStdString();
        EXPECT_LE(QFileInfo(f).fileName().toUtf8().size(), 255) << f.toStdString();
    }
    EXPECT_GT(written, 0);
    // Saved twice, the page has one name; harvested files are named after their addresses.
    const QStringList pages = QDir(dest).entryList({"*.files"}, QDir::Dirs | QDir::Hidden);
    EXPECT_EQ(pages.size(), 1) << pages.join(u' ').toStdString();
    EXPECT_EQ(QDir(dest).entryList({"*.txt"}, QDir::Files | QDir::Hidden).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, HostilePage,
    ::testing::Values(HostileCase{"dotDot", ".."}, HostileCase{"dot", "."},
                      HostileCase{"dots", QString(40, u'.')},
                      HostileCase{"slashes", "../../../etc/x"},
                      HostileCase{"veryLong", QString(10000, u'L')},
                      HostileCase{"veryLongDots", QString(10000, u'.')},
                      HostileCase{"controls", QString::fromUtf8("a\x01\x02\tb\x1b[31m\x7f")},
                      HostileCase{"nul",
                                  QStringLiteral("before") + QChar(0) + QStringLiteral("after")}),
    [](const auto& info) { return std::string(info.param.what); });

} // namespace
