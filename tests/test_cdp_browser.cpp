// End to end: a real headless Chromium shows pages from a loopback server, and captures run
// through the DevTools layer and through nimbril-capture. The server's request log proves that
// nothing is downloaded again; the live pages must end exactly as they were.
#include "BrowserPages.h"
#include "CaptureRun.h"
#include "CdpConnection.h"
#include "ChromiumBrowser.h"
#include "ChromiumProcess.h"
#include "Drops.h"
#include "Errors.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestWait.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const QByteArray kGif =
    QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAAAAAAALAAAAAABAAEAAAICRAEAOw==");
const QByteArray kPng = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=");

class ChromiumBrowserE2E : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        skipReason = StartBrowserSuite(chromium, http, control);
        if (!skipReason.isEmpty())
            return;
        serveFixtures();
        // The browser's own pages are among them too, and must not stop a run.
        openPage(QStringLiteral("chrome://version/"));
        // The order of opening is the order of activation: Shop last is looked at last.
        for (const char* path :
             {"/d/news.htm", "/d/page.htm", "/h/hostile.htm", "/d/img/b.png", "/f/shop.htm"})
            openPage(http->url(QString::fromLatin1(path)).toString());
    }
    static void TearDownTestSuite()
    {
        control.reset();
        http.reset();
        chromium.reset();
    }

    static QString origin() { return QStringLiteral("http://127.0.0.1:%1").arg(http->port()); }
    static QString otherOrigin() { return QStringLiteral("http://localhost:%1").arg(http->port()); }

    static void serveFixtures()
    {
        const QByteArray o = origin().toUtf8();
        http->serve("/d/page.htm", "text/html; charset=utf-8",
                    "<html><head><title>Daily News</title>"
                    "<link rel=\"stylesheet\" href=\"css/site.css\">"
                    "<link rel=\"icon\" href=\"/favicon.ico\">"
                    "<script src=\"js/app.js\"></script></head>\n"
                    "<body><h1>Headline</h1><p>Some text.</p>"
                    "<img src=\"img/a.gif\"><img src=\"" +
                        o +
                        "/d/img/b.png\">"
                        "<img src=\"img/missing.gif\"><img src=\"img/private.gif\">"
                        "<embed src=\"media/tune.mp3\" type=\"audio/mpeg\">"
                        "<a href=\"mailto:Ann@Example.org?subject=Hi there\">Ann</a> "
                        "<a href=\"MAILTO:BOB@EXAMPLE.ORG\">Bob</a> "
                        "<a href=\"mailto:ann@example.org\">again</a> "
                        "<a href=\"mailto:c@example.org,d@example.org\">both</a> "
                        "<a href=\"" +
                        o + "/user@host.example.org\">web</a></body></html>");
        http->serve("/d/news.htm", "text/html",
                    "<!DOCTYPE html><html><head><title>News</title></head><body><p>Short news.</p>"
                    "<img src=\"img/a.gif\"></body></html>");
        http->serve("/d/css/site.css", "text/css", "body { color: #333 }");
        http->serve("/favicon.ico", "image/x-icon", kPng);
        http->serve("/d/js/app.js", "text/javascript", "var loaded = 1;");
        http->serve("/d/img/a.gif", "image/gif", kGif);
        http->serve("/d/img/b.png", "image/png", kPng);
        http->serve("/d/img/private.gif",
                    TestHttpServer::Response{
                        "image/gif", kGif + "x", {{"Cache-Control", "no-store"}}, 200});
        http->serve("/d/media/tune.mp3", "audio/mpeg", QByteArray(2048, '\x55'));
        http->serve("/f/shop.htm", "text/html",
                    "<html><head><title>Shop</title></head><frameset cols=\"30%,70%\">"
                    "<frame name=\"menu\" src=\"menu.htm\">"
                    "<frame name=\"main\" src=\"" +
                        otherOrigin().toUtf8() +
                        "/f/main.htm\">"
                        "</frameset></html>");
        http->serve("/f/menu.htm", "text/html",
                    "<html><head><title>Menu</title></head><body>menu <img src=\"m.gif\">"
                    "<a href=\"mailto:menu@example.org\">m</a></body></html>");
        http->serve("/f/m.gif", "image/gif", kGif + "m");
        http->serve("/f/main.htm", "text/html",
                    "<html><head><title>Main</title></head><body>main <img src=\"x.gif\">"
                    "<a href=\"mailto:main@example.org\">m</a></body></html>");
        http->serve("/f/x.gif", "image/gif", kGif + "xx");
        http->serve("/h/hostile.htm", "text/html",
                    "<html><head><title>" + QByteArray(10000, '.') +
                        "</title></head><body>\x01"
                        "<img src=\"x.gif?a=/../../../../escape.gif\">"
                        "<img src=\"../../../../../up.gif\"></body></html>");
        http->serve("/h/x.gif", "image/gif", kGif + "h");
        http->serve("/up.gif", "image/gif", kGif + "u");
    }

    // Opens a tab and waits until it and its frames have loaded; its session stays attached.
    static QString openPage(const QString& url)
    {
        const OpenedPage page = OpenPage(*control, url);
        sessions.insert(url, page.sessionId);
        return page.targetId;
    }

    static QString liveHtml(const QString& path)
    {
        return Cdp::parseEvaluation(
                   control->call("Runtime.evaluate",
                                 {{"expression", "document.documentElement.outerHTML"}},
                                 sessions.value(http->url(path).toString())))
            .value.toString();
    }

    void SetUp() override
    {
        if (!skipReason.isEmpty())
            GTEST_SKIP() << skipReason.toStdString();
        sources.override = QStringLiteral("127.0.0.1:%1").arg(chromium->port());
        sources.profileFolders.clear();
    }

    // Runs nimbril-capture; its exit code, standard output and error.
    CommandRun capture(const QStringList& args) { return RunNimbrilCapture(args, tmp.path()); }
    QStringList endpointArgs() const
    {
        return {"--endpoint", QStringLiteral("127.0.0.1:%1").arg(chromium->port())};
    }

    static inline std::unique_ptr<ChromiumProcess> chromium;
    static inline std::unique_ptr<TestHttpServer> http;
    static inline std::unique_ptr<CdpConnection> control;
    static inline QHash<QString, QString> sessions;
    static inline QString skipReason;
    CdpEndpoint::Sources sources;
    QTemporaryDir tmp;
};

TEST_F(ChromiumBrowserE2E, SavesEveryOpenPageWholeFromWhatTheBrowserHolds)
{
    const QString pageBefore = liveHtml("/d/page.htm");
    const QString shopBefore = liveHtml("/f/shop.htm");
    http->clearLog();

    ChromiumBrowser browser(sources);
    CaptureRun engine(&browser);
    PlainProgressBar total;
    engine.displays.totalBar = &total;
    const QString dest = tmp.filePath("WebPage");
    QDir().mkpath(dest);
    engine.capturePages(dest, Scope::AllPages, CaptureKind::WebPage);

    const QStringList files = filesBelow(dest);
    for (const char* expected :
         {"Daily News.htm", "Daily News.files/url.ini", "Daily News.files/img/a.gif",
          "Daily News.files/img/b.png", "Daily News.files/img/private.gif",
          "Daily News.files/css/site.css", "Daily News.files/js/app.js", "News.htm",
          "News.files/img/a.gif", "Shop.htm", "Shop.files/url.ini", "Shop.files/Menu.htm",
          "Shop.files/Menu.files/m.gif", "Shop.files/Main.htm", "Shop.files/Main.files/url.ini",
          "Shop.files/Main.files/x.gif"})
        EXPECT_TRUE(files.contains(QString::fromUtf8(expected)))
            << expected << " not in " << files.join(", ").toStdString();
    EXPECT_EQ(readFile(dest + "/Daily News.files/img/a.gif"), kGif);
    EXPECT_EQ(readFile(dest + "/Daily News.files/img/private.gif"), kGif + "x");
    EXPECT_EQ(readFile(dest + "/Shop.files/Main.files/x.gif"), kGif + "xx");
    EXPECT_FALSE(files.contains("Daily News.files/img/missing.gif"));

    const QString page = QString::fromUtf8(readFile(dest + "/Daily News.htm"));
    EXPECT_TRUE(page.startsWith("<html><head><title>Daily News</title>")); // had no doctype
    // A standards-mode page keeps its doctype, so that it renders the same from disk.
    EXPECT_TRUE(readFile(dest + "/News.htm").startsWith("<!DOCTYPE html>\n<html><head><title>News"))
        << readFile(dest + "/News.htm").left(80).toStdString();
    EXPECT_TRUE(page.contains("src=\"Daily News.files/img/a.gif\""));
    EXPECT_TRUE(page.contains("src=\"Daily News.files/img/b.png\""));
    // Not held: named by its web address, not by a file that is not there.
    EXPECT_TRUE(page.contains("src=\"" + origin() + "/d/img/missing.gif\""));
    EXPECT_TRUE(page.contains("href=\"Daily News.files/css/site.css\""));
    EXPECT_TRUE(page.contains("src=\"Daily News.files/js/app.js\""));
    const QString shop = QString::fromUtf8(readFile(dest + "/Shop.htm"));
    EXPECT_TRUE(shop.contains("<frame name=\"menu\" src=\"Shop.files/Menu.htm\">"));
    EXPECT_TRUE(shop.contains("<frame name=\"main\" src=\"Shop.files/Main.htm\">"));
    EXPECT_TRUE(readFile(dest + "/Shop.files/Main.files/url.ini")
                    .contains(QByteArray("URL=" + otherOrigin().toUtf8() + "/f/main.htm")));
    EXPECT_EQ(total.position(), total.max());

    // Nothing was fetched again, and the live pages are as they were.
    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(", ").toStdString();
    EXPECT_EQ(liveHtml("/d/page.htm"), pageBefore);
    EXPECT_EQ(liveHtml("/f/shop.htm"), shopBefore);

    // Saving again reuses every name and copies nothing new.
    const QByteArray ini = readFile(dest + "/Daily News.files/url.ini");
    CaptureRun(&browser).capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
    EXPECT_EQ(filesBelow(dest), files);
    EXPECT_EQ(readFile(dest + "/Daily News.files/url.ini"), ini);
}

TEST_F(ChromiumBrowserE2E, CurrentPageIsTheOneLookedAtLast)
{
    ChromiumBrowser browser(sources);
    const QList<PageRef> pages = browser.pages();
    ASSERT_FALSE(pages.isEmpty());
    EXPECT_EQ(pages.first().title, "Shop");

    // Bring News to the front, then Daily News: the caption "Daily News" holds both titles and
    // the page first in the list, the one looked at last, is taken.
    for (const char* title : {"News", "Daily News"}) {
        for (const PageRef& t : pages)
            if (t.title == QString::fromLatin1(title))
                control->call("Target.activateTarget", {{"targetId", t.id}});
        const QString dest = tmp.filePath(QString::fromLatin1(title));
        QDir().mkpath(dest);
        CaptureRun(&browser).capturePages(dest, Scope::CurrentPage, CaptureKind::Text);
        EXPECT_EQ(filesBelow(dest), QStringList({QString::fromLatin1(title) + ".txt"}));
    }
    EXPECT_TRUE(readFile(tmp.filePath("News/News.txt")).contains("Short news."));
}

TEST_F(ChromiumBrowserE2E, EveryKindThroughTheCommand)
{
    http->clearLog();
    const QString base = tmp.filePath("out");

    CommandRun photo =
        capture(endpointArgs() + QStringList{"--scope", "all", "--dest", base + "/Photo", "photo"});
    // A picture the server never sent is no success: it is listed with why, and the status says
    // that files were not saved.
    ASSERT_EQ(photo.code, 5) << photo.err.toStdString();
    EXPECT_TRUE(photo.err.contains(http->url("/d/img/missing.gif").toString() +
                                   ": the browser does not hold it"))
        << photo.err.toStdString();
    EXPECT_FALSE(photo.err.contains("a.gif:")) << photo.err.toStdString();
    EXPECT_TRUE(photo.err.contains("page: Daily News"));
    const QStringList photos = filesBelow(base + "/Photo");
    for (const char* name : {"a.gif", "b.png", "private.gif", "m.gif", "x.gif"})
        EXPECT_TRUE(photos.contains(name)) << name << " not in " << photos.join(", ").toStdString();

    CommandRun text =
        capture(endpointArgs() + QStringList{"--scope", "all", "--dest", base + "/Text", "text"});
    ASSERT_EQ(text.code, 0) << text.err.toStdString();
    EXPECT_TRUE(readFile(base + "/Text/Daily News.txt").contains("Headline"));
    EXPECT_FALSE(QFile::exists(base + "/Text/Menu.txt")); // frames are not visited for text

    CommandRun email =
        capture(endpointArgs() + QStringList{"--scope", "all", "--dest", base + "/EMail", "email"});
    ASSERT_EQ(email.code, 0) << email.err.toStdString();
    const QStringList addresses = email.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(addresses.contains("Ann@Example.org"));
    EXPECT_TRUE(addresses.contains("BOB@EXAMPLE.ORG"));
    EXPECT_TRUE(addresses.contains("c@example.org,d@example.org"));
    EXPECT_TRUE(addresses.contains("menu@example.org"));
    EXPECT_TRUE(addresses.contains("main@example.org"));
    EXPECT_FALSE(addresses.contains("ann@example.org"));
    for (const QString& a : addresses)
        EXPECT_FALSE(a.contains("host.example.org")) << a.toStdString();

    for (const char* kind : {"music", "flash"}) {
        CommandRun r = capture(endpointArgs() +
                               QStringList{"--scope", "all", "--dest", base + "/" + kind, kind});
        EXPECT_EQ(r.code, 0) << kind << ": " << r.err.toStdString();
    }
    CommandRun page = capture(endpointArgs() + QStringList{"--dest", base + "/WebPage", "page"});
    // The page looked at last may be the one with the missing picture.
    ASSERT_TRUE(page.code == 0 || (page.code == 5 && page.err.contains("missing.gif")))
        << page.code << page.err.toStdString();
    // Only the page looked at last is saved.
    ChromiumBrowser browser(sources);
    const QString current = browser.pages().value(0).title;
    EXPECT_EQ(QDir(base + "/WebPage").entryList({"*.htm"}, QDir::Files),
              QStringList({current + ".htm"}));

    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(", ").toStdString();
    // The command ran with a home and cache folder of its own: no captured byte lies anywhere
    // but in the destinations.
    QDirIterator it(tmp.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        EXPECT_TRUE(f.startsWith(base + "/")) << f.toStdString();
    }
}

TEST_F(ChromiumBrowserE2E, HostilePageWritesNothingOutsideTheDestination)
{
    // Captured bytes land in the destination and nowhere else, not even for a moment in a folder
    // of Nimbril's own.
    qputenv("XDG_CACHE_HOME", tmp.filePath("xdg-cache").toUtf8());
    ChromiumBrowser browser(sources);
    const QString dest = tmp.filePath("dest/WebPage");
    QDir().mkpath(dest);
    CaptureRun(&browser).capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
    QDir().mkpath(tmp.filePath("dest/Photo"));
    CaptureRun(&browser).capturePages(tmp.filePath("dest/Photo"), Scope::AllPages,
                                      CaptureKind::Photo);
    qunsetenv("XDG_CACHE_HOME");

    QDirIterator it(tmp.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    int hostileFiles = 0;
    while (it.hasNext()) {
        const QString f = it.next();
        if (f == tmp.filePath("dest"))
            continue;
        EXPECT_TRUE(f.startsWith(tmp.filePath("dest") + "/")) << f.toStdString();
        hostileFiles += f.contains("....");
        EXPECT_LE(QFileInfo(f).fileName().toUtf8().size(), 255);
    }
    EXPECT_GE(hostileFiles, 2); // the page file and its url.ini
}

TEST_F(ChromiumBrowserE2E, NoBrowserGetsAPlainMessage)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    CommandRun r = capture({"--endpoint", QStringLiteral("127.0.0.1:%1").arg(port), "--dest",
                            tmp.filePath("x"), "page"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.contains("--remote-debugging-port")) << r.err.toStdString();

    CommandRun bad = capture({"nonsense"});
    EXPECT_EQ(bad.code, 2);
}

TEST_F(ChromiumBrowserE2E, APrivateWindowShowingTheSameAddressKeepsItsOwnBytes)
{
    // The same address answers with other bytes once the normal window has it; a private window
    // (a context of its own) then loads those.
    http->serve("/c/page.htm", "text/html",
                "<html><head><title>Twin</title></head><body><img src=\"pic.gif\"></body></html>");
    http->serve("/c/pic.gif", "image/gif", kGif + "normal");
    const QString url = http->url("/c/page.htm").toString();
    openPage(url);
    http->serve("/c/pic.gif", "image/gif", kGif + "private");
    const QString context =
        control->call("Target.createBrowserContext", {}).value("browserContextId").toString();
    const QString target =
        control->call("Target.createTarget", {{"url", url}, {"browserContextId", context}})
            .value("targetId")
            .toString();
    const QString session =
        control->call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})
            .value("sessionId")
            .toString();
    ASSERT_TRUE(WaitUntilLoaded(*control, session, url, 20000,
                                "document.images[0] && document.images[0].complete"));

    ChromiumBrowser browser(sources);
    const QString photos = tmp.filePath("Photo");
    QDir().mkpath(photos);
    CaptureRun(&browser).capturePages(photos, Scope::AllPages, CaptureKind::Photo);
    QByteArrayList held;
    for (const QString& f : QDir(photos).entryList({"pic*.gif"}, QDir::Files))
        held << readFile(photos + "/" + f);
    std::sort(held.begin(), held.end());
    EXPECT_EQ(held, QByteArrayList({kGif + "normal", kGif + "private"}));
    control->call("Target.disposeBrowserContext", {{"browserContextId", context}});
}

TEST_F(ChromiumBrowserE2E, APictureLinkDroppedOnTheWindowIsCopiedFromThePageThatShowsIt)
{
    // No capture ran in this browser object: the drop finds the picture in the open pages.
    ChromiumBrowser browser(sources);
    Paths paths;
    paths.collectionRoot = tmp.filePath("coll") + "/";
    paths.favoritesDir = tmp.filePath("fav") + "/";
    Drops drops(paths, nullptr, &browser);
    http->clearLog();
    drops.StoreTextDrop({TextDrop::Url, http->url("/d/img/b.png").toString(), "b"});
    drops.StoreTextDrop({TextDrop::Url, http->url("/d/img/never-shown.png").toString(), "n"});
    EXPECT_EQ(readFile(paths.collectionRoot + "Photo/b.png"), kPng);
    EXPECT_TRUE(QFile::exists(paths.favoritesDir + "n.url"));
    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(", ").toStdString();
}

TEST_F(ChromiumBrowserE2E, ACurrentPageThatIsNoWebPageIsSaidAndEndsNonZero)
{
    // The browser's own page is looked at last: there is no current web page to capture.
    for (const PageRef& page : ChromiumBrowser(sources).pages())
        if (page.address.startsWith("chrome:"))
            control->call("Target.activateTarget", {{"targetId", page.id}});
    const CommandRun run =
        capture(endpointArgs() + QStringList{"--dest", tmp.filePath("Text"), "text"});
    EXPECT_EQ(run.code, 4) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("no current page")) << run.err.toStdString();
    EXPECT_TRUE(filesBelow(tmp.filePath("Text")).isEmpty());
}

} // namespace

// The next page's document is asked for while the one before is saved; a page that goes on to
// another document meanwhile is read as it is when its turn comes.
TEST_F(ChromiumBrowserE2E, APageThatMovesOnWhileThePageBeforeIsReadIsReadAsItIsThen)
{
    http->serve("/m/first.htm", "text/html", "<html><head><title>First</title></head></html>");
    http->serve("/m/second.htm", "text/html", "<html><head><title>Second</title></head></html>");
    http->serve("/m/moved.htm", "text/html",
                "<html><head><title>Moved</title></head><body>moved on</body></html>");
    const QString second = http->url("/m/second.htm").toString();
    const QString moved = http->url("/m/moved.htm").toString();
    const QStringList targets = {openPage(http->url("/m/first.htm").toString()), openPage(second)};
    const auto closePages = qScopeGuard([&] {
        for (const QString& id : targets)
            control->call("Target.closeTarget", {{"targetId", id}});
    });

    ChromiumBrowser browser(sources);
    QList<PageRef> pages;
    for (const QString& id : targets)
        for (const PageRef& page : browser.pages())
            if (page.id == id)
                pages << page;
    ASSERT_EQ(pages.size(), 2);
    browser.prepare(pages);
    ASSERT_TRUE(browser.snapshot(pages[0]));
    control->call("Page.navigate", {{"url", moved}}, sessions.value(second));
    ASSERT_TRUE(WaitUntilLoaded(*control, sessions.value(second), moved));

    const std::optional<PageSnapshot> now = browser.snapshot(pages[1]);
    ASSERT_TRUE(now);
    EXPECT_EQ(now->address.toStdString(), moved.toStdString());
    EXPECT_EQ(now->title.toStdString(), "Moved");
    QByteArray html;
    browser.serialize(*now, {}, {}, [&html](const QByteArray& piece) { html += piece; });
    EXPECT_TRUE(html.contains("moved on")) << html.toStdString();
}

// A page's copy asked for ahead is taken only when it was asked with the writes the page file
// needs; otherwise it is asked again.
TEST_F(ChromiumBrowserE2E, ACopyAskedAheadWithOtherWritesIsAskedAgain)
{
    http->serve("/c/page.htm", "text/html",
                "<html><head><title>Copy</title></head><body><img src=a.gif></body></html>");
    const QString target = openPage(http->url("/c/page.htm").toString());
    const auto closePage = qScopeGuard([&] {
        control->call("Target.closeTarget", {{"targetId", target}});
    });
    ChromiumBrowser browser(sources);
    std::optional<PageSnapshot> doc;
    for (const PageRef& page : browser.pages())
        if (page.id == target)
            doc = browser.snapshot(page);
    ASSERT_TRUE(doc);
    const int img = doc->elementsTagged(QStringLiteral("IMG")).value(0, -1);
    ASSERT_GE(img, 0);
    auto copy = [&](const QString& src) {
        QByteArray html;
        browser.serialize(*doc, {{img, QStringLiteral("src"), src}}, {},
                          [&html](const QByteArray& piece) { html += piece; });
        return html;
    };

    browser.serializeAhead(*doc, {{img, QStringLiteral("src"), QStringLiteral("ahead.gif")}}, {});
    EXPECT_TRUE(copy(QStringLiteral("ahead.gif")).contains("src=\"ahead.gif\""));
    browser.serializeAhead(*doc, {{img, QStringLiteral("src"), QStringLiteral("stale.gif")}}, {});
    const QByteArray html = copy(QStringLiteral("Copy.files/a.gif"));
    EXPECT_TRUE(html.contains("src=\"Copy.files/a.gif\"")) << html.toStdString();
}
