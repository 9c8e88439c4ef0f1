// End to end: a real headless Chromium loads pages from a loopback server into its own disk
// cache, and the layer reads resource bytes from there. Every result must be the bytes the
// DevTools route gives; whatever the disk cannot give whole falls back to that route; the
// browser's profile is never changed.
#include "BrowserPages.h"
#include "CaptureRun.h"
#include "CdpConnection.h"
#include "ChromiumBrowser.h"
#include "ChromiumProcess.h"
#include "DiskCache.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestWait.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

namespace {

const QByteArray kPng = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=");

// A picture the browser shows, made distinct (and large where asked) by bytes after its end.
QByteArray Picture(int seed, int extra)
{
    QByteArray tail(extra, Qt::Uninitialized);
    QRandomGenerator rnd(quint32(seed + 1));
    for (char& c : tail)
        c = char(rnd.generate() & 0xff);
    return kPng + tail;
}

QByteArray Gzip(const QByteArray& in)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(in.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray Brotli(const QByteArray& in)
{
    size_t size = BrotliEncoderMaxCompressedSize(size_t(in.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT,
                          size_t(in.size()), reinterpret_cast<const uint8_t*>(in.constData()),
                          &size, reinterpret_cast<uint8_t*>(out.data()));
    out.resize(qsizetype(size));
    return out;
}

QByteArray Zstd(const QByteArray& in)
{
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(in.size()))), Qt::Uninitialized);
    out.resize(qsizetype(
        ZSTD_compress(out.data(), size_t(out.size()), in.constData(), size_t(in.size()), 3)));
    return out;
}

const QByteArray kScript =
    QByteArray("var counter = 0; // the script, sent compressed\n").repeated(300);

class DiskCacheE2E : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        skipReason = StartBrowserSuite(chromium, http, control);
        if (!skipReason.isEmpty())
            return;
        QByteArray tags;
        for (int i = 0; i < 8; ++i) {
            const QString path = QStringLiteral("/c/img/p%1.png").arg(i);
            // Small, medium and one picture of 3 MB.
            files.insert(path, Picture(i, i == 7 ? 3 << 20 : i * 9000));
            http->serve(path, "image/png", files.value(path));
            tags += "<img src=\"" + path.toUtf8() + "\">";
        }
        files.insert("/c/app.js", kScript);
        http->serve("/c/app.js", TestHttpServer::Response{"text/javascript",
                                                          Gzip(kScript),
                                                          {{"Content-Encoding", "gzip"}}});
        files.insert("/c/site.css", QByteArray("h1 { color: #123 }\n").repeated(50));
        http->serve("/c/site.css", "text/css", files.value("/c/site.css"));
        // What real servers send browsers today besides gzip.
        files.insert("/c/more.js", QByteArray("var more = 'brotli';\n").repeated(400));
        http->serve("/c/more.js", TestHttpServer::Response{"text/javascript",
                                                           Brotli(files.value("/c/more.js")),
                                                           {{"Content-Encoding", "br"}}});
        files.insert("/c/theme.css", QByteArray("p { margin: 0 }\n").repeated(400));
        http->serve("/c/theme.css", TestHttpServer::Response{"text/css",
                                                             Zstd(files.value("/c/theme.css")),
                                                             {{"Content-Encoding", "zstd"}}});
        files.insert("/c/private.png", Picture(100, 500));
        http->serve("/c/private.png", TestHttpServer::Response{"image/png",
                                                               files.value("/c/private.png"),
                                                               {{"Cache-Control", "no-store"}}});
        http->serve("/c/page.htm", "text/html",
                    "<html><head><title>Cached</title><link rel=\"stylesheet\" href=\"site.css\">"
                    "<link rel=\"stylesheet\" href=\"theme.css\"><script src=\"more.js\"></script>"
                    "<script src=\"app.js\"></script></head><body><h1>Cached</h1>" +
                        tags + "<img src=\"private.png\"></body></html>");
        files.insert("/c/cut.png", Picture(200, 40000));
        http->serve("/c/cut.png", "image/png", files.value("/c/cut.png"));
        http->serve("/c/cut.htm", "text/html", "<html><body><img src=\"cut.png\"></body></html>");
        // A frame of another site: its resources are stored under that site's part of the cache.
        files.insert("/c/framed.png", Picture(300, 7000));
        http->serve("/c/framed.png", "image/png", files.value("/c/framed.png"));
        http->serve("/c/inner.htm", "text/html",
                    "<html><body><img src=\"framed.png\"></body></html>");
        http->serve("/c/frames.htm", "text/html",
                    "<html><frameset cols=\"50%,50%\"><frame name=\"left\" src=\"page.htm\">"
                    "<frame name=\"right\" src=\"http://localhost:" +
                        QByteArray::number(http->port()) + "/c/inner.htm\"></frameset></html>");
        // Scripts of a few kilobytes that unpack to more than any resource may hold, one kept
        // on disk and one only in the page's memory. (A picture would not do: the browser stops
        // loading a picture it cannot decode.)
        const QByteArray bomb = Zstd(QByteArray(kLargestResource + (2 << 20), ' '));
        http->serve(
            "/c/bomb-disk.js",
            TestHttpServer::Response{"text/javascript", bomb, {{"Content-Encoding", "zstd"}}});
        http->serve("/c/bomb-memory.js", TestHttpServer::Response{"text/javascript",
                                                                  bomb,
                                                                  {{"Content-Encoding", "zstd"},
                                                                   {"Cache-Control", "no-store"}}});
        http->serve("/c/bombs.htm", "text/html",
                    "<html><head><title>Bombs</title><script src=\"bomb-disk.js\"></script>"
                    "<script src=\"bomb-memory.js\"></script></head>"
                    "<body><img src=\"cut.png\"></body></html>");
        for (const char* path : {"/c/page.htm", "/c/cut.htm", "/c/frames.htm", "/c/bombs.htm"})
            OpenPage(*control, http->url(QString::fromLatin1(path)).toString());
    }
    static void TearDownTestSuite()
    {
        control.reset();
        http.reset();
        chromium.reset();
    }

    void SetUp() override
    {
        if (!skipReason.isEmpty())
            GTEST_SKIP() << skipReason.toStdString();
    }

    CdpEndpoint::Sources sourcesFor(const ChromiumProcess& browser) const
    {
        CdpEndpoint::Sources sources;
        sources.override = QStringLiteral("127.0.0.1:%1").arg(browser.port());
        return sources;
    }

    // The document shown by the page at `url`, read through the layer.
    std::optional<PageSnapshot> document(ChromiumBrowser& browser, const QString& url)
    {
        for (const PageRef& page : browser.pages())
            if (page.address == url)
                return browser.snapshot(page);
        return std::nullopt;
    }

    // Keeps what the layer hands out.
    struct Collected : ResourceSink
    {
        void receive(const QString& url, const QByteArray& bytes) override
        {
            got.insert(url, bytes);
        }
        void refuse(const QString& url, const Message& why) override
        {
            refused.insert(url, why.text());
        }
        QHash<QString, QByteArray> got;
        QHash<QString, QString> refused;
    };

    // Reads every named resource of the document through the layer: path -> bytes ("" for
    // none).
    QHash<QString, QByteArray> readAll(ChromiumBrowser& browser, const PageSnapshot& doc,
                                       const QStringList& paths)
    {
        QStringList urls;
        for (const QString& path : paths)
            urls << http->url(path).toString();
        Collected sink;
        browser.fetch(doc, urls, sink);
        QHash<QString, QByteArray> got;
        for (const QString& path : paths)
            got.insert(path, sink.got.value(http->url(path).toString()));
        return got;
    }
    QByteArray readOne(ChromiumBrowser& browser, const PageSnapshot& doc, const QString& url)
    {
        Collected sink;
        browser.fetch(doc, {url}, sink);
        return sink.got.value(url);
    }

    static QStringList pagePaths()
    {
        QStringList paths;
        for (int i = 0; i < 8; ++i)
            paths << QStringLiteral("/c/img/p%1.png").arg(i);
        return paths << "/c/app.js"
                     << "/c/more.js"
                     << "/c/theme.css"
                     << "/c/site.css"
                     << "/c/private.png";
    }

    // Name, time and bytes of every entry file of the cache folders.
    static QMap<QString, QByteArray> entryFiles(const QStringList& folders)
    {
        QMap<QString, QByteArray> state;
        for (const QString& folder : folders) {
            QDirIterator it(folder, QDir::Files);
            while (it.hasNext()) {
                const QFileInfo info(it.next());
                if (info.fileName().startsWith(QLatin1String("index")))
                    continue; // the browser's own bookkeeping, rewritten on its own schedule
                state.insert(info.filePath(),
                             QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + ' ' +
                                 QCryptographicHash::hash(readFile(info.filePath()),
                                                          QCryptographicHash::Sha1)
                                     .toHex());
            }
        }
        return state;
    }

    static inline std::unique_ptr<ChromiumProcess> chromium;
    static inline std::unique_ptr<TestHttpServer> http;
    static inline std::unique_ptr<CdpConnection> control;
    static inline QHash<QString, QByteArray> files;
    static inline QString skipReason;
    QTemporaryDir tmp;
};

TEST_F(DiskCacheE2E, DiskRouteGivesTheBytesOfTheDevToolsRouteWithoutTouchingTheProfile)
{
    ChromiumBrowser viaDisk(sourcesFor(*chromium));
    const std::optional<PageSnapshot> diskPage =
        document(viaDisk, http->url("/c/page.htm").toString());
    ASSERT_TRUE(diskPage);
    const QStringList folders = viaDisk.diskCacheFolders();
    ASSERT_FALSE(folders.isEmpty()) << "the profile's cache folder was not found";
    EXPECT_TRUE(folders.first().startsWith(chromium->profileFolder()))
        << folders.first().toStdString();
    const QMap<QString, QByteArray> before = entryFiles(folders);
    ASSERT_FALSE(before.isEmpty());
    http->clearLog();

    const QHash<QString, QByteArray> disk = readAll(viaDisk, *diskPage, pagePaths());

    ChromiumBrowser viaProtocol(sourcesFor(*chromium));
    viaProtocol.setDiskCacheEnabled(false);
    const std::optional<PageSnapshot> protocolPage =
        document(viaProtocol, http->url("/c/page.htm").toString());
    ASSERT_TRUE(protocolPage);
    const QHash<QString, QByteArray> protocol = readAll(viaProtocol, *protocolPage, pagePaths());

    for (const QString& path : pagePaths()) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(disk.value(path).size(), files.value(path).size());
        EXPECT_TRUE(disk.value(path) == files.value(path));
        EXPECT_TRUE(disk.value(path) == protocol.value(path));
    }
    // Everything but the no-store picture came from the disk; scripts and style sheets decoded
    // from gzip, br and zstd.
    EXPECT_EQ(viaDisk.stats().diskReads, int(pagePaths().size()) - 1);
    EXPECT_EQ(viaDisk.stats().resourceReads, int(pagePaths().size()));
    EXPECT_EQ(viaProtocol.stats().diskReads, 0);
    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(u' ').toStdString();
    EXPECT_EQ(entryFiles(folders), before);
}

TEST_F(DiskCacheE2E, FrameOfAnotherSiteIsReadFromItsOwnPartOfTheCache)
{
    ChromiumBrowser browser(sourcesFor(*chromium));
    const std::optional<PageSnapshot> top =
        document(browser, http->url("/c/frames.htm").toString());
    ASSERT_TRUE(top);
    const auto right = top->frameNamed("right");
    ASSERT_TRUE(right);
    const QString url = QStringLiteral("http://localhost:%1/c/framed.png").arg(http->port());
    EXPECT_TRUE(readOne(browser, *right, url) == files.value("/c/framed.png"));
    EXPECT_EQ(browser.stats().diskReads, 1);
}

TEST_F(DiskCacheE2E, EntryCutShortFallsBackToTheBrowser)
{
    // What a reader sees while the browser is still writing an entry: the body, no end.
    ChromiumBrowser browser(sourcesFor(*chromium));
    const QString url = http->url("/c/cut.png").toString();
    const std::optional<PageSnapshot> page = document(browser, http->url("/c/cut.htm").toString());
    ASSERT_TRUE(page);
    QString entry;
    for (const QString& folder : browser.diskCacheFolders())
        for (const QString& site : {QStringLiteral("http://127.0.0.1")})
            for (const QByteArray& key : DiskCache::CandidateKeys(site, site, url))
                if (QFileInfo::exists(folder + u'/' + DiskCache::EntryFileName(key)))
                    entry = folder + u'/' + DiskCache::EntryFileName(key);
    ASSERT_FALSE(entry.isEmpty()) << "no entry on disk for " << url.toStdString();
    QFile cut(entry);
    ASSERT_TRUE(cut.resize(cut.size() - 100));

    EXPECT_TRUE(readOne(browser, *page, url) == files.value("/c/cut.png"));
    EXPECT_EQ(browser.stats().diskReads, 0);
    EXPECT_EQ(browser.stats().resourceReads, 1);
}

TEST_F(DiskCacheE2E, ResourcesThatUnpackToMoreThanAnyMayHoldAreRefusedAndListed)
{
    ChromiumBrowser browser(sourcesFor(*chromium));
    const std::optional<PageSnapshot> page =
        document(browser, http->url("/c/bombs.htm").toString());
    ASSERT_TRUE(page);
    const QStringList bombs{http->url("/c/bomb-disk.js").toString(),
                            http->url("/c/bomb-memory.js").toString()};
    Collected sink;
    browser.fetch(*page, bombs + QStringList{http->url("/c/cut.png").toString()}, sink);
    EXPECT_EQ(sink.got.keys(), QStringList({http->url("/c/cut.png").toString()}));
    for (const QString& url : bombs)
        EXPECT_TRUE(sink.refused.value(url).contains("128 MiB")) << url.toStdString();

    // A saved page lists them as not saved, and writes none of their bytes.
    const QString dest = tmp.filePath("WebPage");
    QDir().mkpath(dest);
    CaptureRun run(&browser);
    run.capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
    for (const QString& url : bombs)
        EXPECT_TRUE(Texts(run.notSaved).join("\n").contains(url + ": not saved"))
            << Texts(run.notSaved).join("\n").toStdString();
    EXPECT_TRUE(QFileInfo::exists(dest + "/Bombs.files/cut.png"));
    EXPECT_FALSE(QFileInfo::exists(dest + "/Bombs.files/bomb-disk.js"));
    EXPECT_FALSE(QFileInfo::exists(dest + "/Bombs.files/bomb-memory.js"));
}

TEST_F(DiskCacheE2E, PrivateWindowKeepsItsCacheInMemoryAndIsReadThroughTheBrowser)
{
    // The page of a private window may be newer than the copy the profile's cache holds for the
    // same address: the disk is not asked for it.
    ChromiumProcess incognito;
    incognito.setExtraArguments({QStringLiteral("--incognito")});
    if (!incognito.start())
        GTEST_SKIP() << incognito.failure().toStdString();
    CdpConnection c;
    c.connectTo(incognito.browserUrl());
    QString blank;
    for (const Cdp::TargetInfo& t :
         Cdp::pageTargets(Cdp::parseTargets(c.call("Target.getTargets"))))
        if (t.url == QLatin1String("about:blank"))
            blank = t.targetId;
    ASSERT_FALSE(blank.isEmpty());
    const QString page = http->url("/c/page.htm").toString();
    // The profile's own context had the same page, and so its entries are on disk.
    c.call("Target.closeTarget", {{"targetId", OpenPage(c, page).targetId}});
    const QString session =
        c.call("Target.attachToTarget", {{"targetId", blank}, {"flatten", true}})
            .value("sessionId")
            .toString();
    c.call("Page.navigate", {{"url", page}}, session);
    ASSERT_TRUE(WaitUntilLoaded(c, session, page));

    ChromiumBrowser browser(sourcesFor(incognito));
    const std::optional<PageSnapshot> doc = document(browser, page);
    ASSERT_TRUE(doc);
    ASSERT_FALSE(browser.diskCacheFolders().isEmpty());
    const QHash<QString, QByteArray> got = readAll(browser, *doc, pagePaths());
    for (const QString& path : pagePaths())
        EXPECT_TRUE(got.value(path) == files.value(path)) << path.toStdString();
    EXPECT_EQ(browser.stats().diskReads, 0);
    EXPECT_EQ(browser.stats().resourceReads, int(pagePaths().size()));
}

} // namespace

namespace {

TEST_F(DiskCacheE2E, PageHoldingAnOlderCopyThanTheDiskGetsItsOwnBytes)
{
    // Another tab fetched a newer picture under the same address after this page loaded it: the
    // disk now holds bytes of another size than the page shows, and the page's own copy wins.
    const QByteArray older = Picture(400, 1000);
    const QByteArray newer = Picture(401, 5000);
    const QList<std::pair<QByteArray, QByteArray>> revalidate = {{"Cache-Control", "no-cache"}};
    http->serve("/v/pic.png", TestHttpServer::Response{"image/png", older, revalidate});
    http->serve("/v/a.htm", "text/html", "<html><body><img src=\"pic.png\"></body></html>");
    http->serve("/v/b.htm", "text/html", "<html><body><img src=\"pic.png\"></body></html>");
    ASSERT_FALSE(OpenPage(*control, http->url("/v/a.htm").toString()).targetId.isEmpty());
    http->serve("/v/pic.png", TestHttpServer::Response{"image/png", newer, revalidate});
    ASSERT_FALSE(OpenPage(*control, http->url("/v/b.htm").toString()).targetId.isEmpty());

    ChromiumBrowser browser(sourcesFor(*chromium));
    const std::optional<PageSnapshot> a = document(browser, http->url("/v/a.htm").toString());
    ASSERT_TRUE(a);
    const QByteArray got = readOne(browser, *a, http->url("/v/pic.png").toString());
    EXPECT_TRUE(got == older) << got.size() << " bytes";
    EXPECT_EQ(browser.stats().diskReads, 0);
}

} // namespace
