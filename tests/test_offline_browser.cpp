// End to end: a page saved from a real headless Chromium, opened again from disk, shows what the
// live page showed from the files beside it; nothing is asked of the server, neither while
// saving nor while the copy is shown.
#include "BrowserPages.h"
#include "CaptureRun.h"
#include "CdpConnection.h"
#include "CdpProtocol.h"
#include "ChromiumBrowser.h"
#include "ChromiumProcess.h"
#include "TestFiles.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

const QByteArray kPng = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=");
// A picture is told apart by what follows its PNG end: browsers ignore it.
QByteArray Png(const char* tag)
{
    return kPng + tag;
}

class OfflineBrowser : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        skipReason = StartBrowserSuite(chromium, http, control);
        if (!skipReason.isEmpty())
            return;
        const QByteArray o = QStringLiteral("//127.0.0.1:%1").arg(http->port()).toUtf8();
        http->serve("/o/styled.htm", "text/html",
                    "<!DOCTYPE html><html><head><title>Styled</title>"
                    "<link rel=\"stylesheet\" href=\"css/site.css\">"
                    "<style>@import url(\"css/more.css\"); h1{background:url('img/h1.png')}</style>"
                    "<script src=\"/static/root.js\"></script>"
                    "<script src=\"" +
                        o +
                        "/o/js/proto.js\"></script></head>"
                        "<body><h1>Head</h1>"
                        "<div id=\"d\" style=\"background-image:url(img/div.png);width:9px;"
                        "height:9px\"></div>"
                        "<img id=\"s\" src=\"img/s.png\" srcset=\"img/s.png 1x, img/l.png 2x\">"
                        "<picture><source srcset=\"img/p.png\" type=\"image/png\">"
                        "<img id=\"p\" src=\"img/fallback.png\"></picture>"
                        "<video id=\"v\" poster=\"img/poster.png\" width=\"9\" height=\"9\">"
                        "</video><a id=\"a\" href=\"next.htm\">next</a>"
                        "<iframe src=\"frame.htm\"></iframe><iframe src=\"http://localhost:" +
                        QByteArray::number(http->port()) +
                        "/o/cross.htm\"></iframe></body></html>");
        http->serve("/o/frame.htm", "text/html",
                    "<html><head><title>Inner</title></head><body><img src=\"img/inner.png\">"
                    "</body></html>");
        http->serve("/o/cross.htm", "text/html",
                    "<html><head><title>Cross</title></head><body><img src=\"img/cross.png\">"
                    "</body></html>");
        http->serve("/o/css/site.css", "text/css",
                    "@import \"parts/deep.css\";\n"
                    "body{background:url(/o/img/bg.png)}\n"
                    ".never{background:url(../img/never.png)}");
        http->serve("/o/css/parts/deep.css", "text/css",
                    "h1{border-image:url(../../img/deep.png)"
                    " 1 / 1px stretch}");
        http->serve("/o/css/more.css", "text/css", "p{color:red}");
        http->serve("/static/root.js", "text/javascript", "var root = 1;");
        http->serve("/o/js/proto.js", "text/javascript", "var proto = 1;");
        for (const char* name : {"h1", "div", "s", "l", "p", "fallback", "poster", "bg", "deep",
                                 "never", "b1", "inner", "cross"})
            http->serve(QStringLiteral("/o/img/%1.png").arg(QLatin1String(name)), "image/png",
                        Png(name));
        http->serve("/o/based.htm", "text/html",
                    "<!DOCTYPE html><html><head><title>Based</title><base href=\"/o/img/\">"
                    "</head><body><img id=\"b\" src=\"b1.png\"><a href=\"x.htm\">x</a>"
                    "</body></html>");
        // Its scripts build part of it on load: a parsed script, a module, and a script that one
        // of them inserts.
        http->serve("/o/built.htm", "text/html",
                    "<!DOCTYPE html><html><head><title>Built</title>"
                    "<script src=\"js/build.js\"></script>"
                    "<script type=\"module\">document.body.insertAdjacentHTML('beforeend',"
                    "'<p class=\"built\">module</p>')</script>"
                    "<script type=\"application/json\" id=\"data\">{\"n\": 1}</script>"
                    "</head><body><input id=\"f\">"
                    "<noscript><p>without scripts</p></noscript></body></html>");
        http->serve(
            "/o/js/build.js", "text/javascript",
            "window.runs = (window.runs || 0) + 1;"
            "addEventListener('DOMContentLoaded', () => {"
            "  document.body.insertAdjacentHTML('beforeend', '<p class=\"built\">on load</p>');"
            "  document.getElementById('f').value = 'set by a script';"
            "  const s = document.createElement('script');"
            "  s.src = 'js/late.js'; document.head.append(s); });");
        http->serve(
            "/o/js/late.js", "text/javascript",
            "document.body.insertAdjacentHTML('beforeend', '<p class=\"built\">late</p>');");
        for (const char* page : {"/o/styled.htm", "/o/based.htm", "/o/built.htm"})
            OpenPage(*control, http->url(QString::fromLatin1(page)).toString(), 20000,
                     "document.readyState === 'complete'");
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
        sources.override = QStringLiteral("127.0.0.1:%1").arg(chromium->port());
        sources.profileFolders.clear();
        ASSERT_TRUE(tmp.isValid());
        dest = tmp.filePath("WebPage");
        QDir().mkpath(dest);
    }

    // Opens the saved file in a new tab and evaluates `expression` there once it has loaded.
    static QJsonValue evaluateInCopy(const QString& file, const QString& expression)
    {
        const QString url = QUrl::fromLocalFile(file).toString();
        const OpenedPage page =
            OpenPage(*control, url, 20000, QStringLiteral("document.readyState === 'complete'"));
        if (page.sessionId.isEmpty())
            return QJsonValue();
        const QJsonValue value = Cdp::parseEvaluation(control->call("Runtime.evaluate",
                                                                    {{"expression", expression},
                                                                     {"returnByValue", true},
                                                                     {"awaitPromise", true}},
                                                                    page.sessionId))
                                     .value;
        control->call("Target.closeTarget", {{"targetId", page.targetId}});
        return value;
    }

    static inline std::unique_ptr<ChromiumProcess> chromium;
    static inline std::unique_ptr<TestHttpServer> http;
    static inline std::unique_ptr<CdpConnection> control;
    static inline QString skipReason;
    CdpEndpoint::Sources sources;
    QTemporaryDir tmp;
    QString dest;
};

TEST_F(OfflineBrowser, ASavedPageShowsItsSheetsPicturesAndScriptsFromDisk)
{
    http->clearLog();
    ChromiumBrowser browser(sources);
    CaptureRun engine(&browser);
    engine.capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(", ").toStdString();

    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(http->port());
    EXPECT_EQ(readFile(dest + "/Styled.files/css/site.css"),
              "@import \"parts/deep.css\";\n"
              "body{background:url(\"../img/bg.png\")}\n"
              ".never{background:url(\"" +
                  origin.toUtf8() + "/o/img/never.png\")}");
    // Each picture the page showed lies in the page's folder (where below it, the page's
    // address decides), and the picture it did not show is not there.
    const QStringList files = filesBelow(dest + "/Styled.files");
    for (const char* name : {"h1", "div", "s", "p", "poster", "bg", "deep", "inner", "cross"}) {
        const QString png = QString::fromLatin1(name) + ".png";
        const auto file = std::find_if(files.begin(), files.end(), [&](const QString& f) {
            return f == png || f.endsWith("/" + png);
        });
        ASSERT_NE(file, files.end()) << name << " not in " << files.join(", ").toStdString();
        EXPECT_EQ(readFile(dest + "/Styled.files/" + *file), Png(name)) << name;
    }
    EXPECT_FALSE(files.join(',').contains("never.png"));
    // Inline frames, of the page's site and of another, are pages of their own.
    for (const char* page : {"Inner.htm", "Cross.htm"})
        EXPECT_TRUE(files.contains(page)) << page << " not in " << files.join(", ").toStdString();
    EXPECT_TRUE(files.contains("static/root.js")) << files.join(", ").toStdString();
    EXPECT_TRUE(files.contains("js/proto.js")) << files.join(", ").toStdString();
    EXPECT_EQ(readFile(dest + "/Based.files/img/b1.png"), Png("b1"));

    // Opened from disk, every picture, background and script comes from the files beside it.
    const QJsonObject shown =
        evaluateInCopy(dest + "/Styled.htm",
                       "(() => { const bg = (e) => getComputedStyle(e).backgroundImage;"
                       "  const h1 = document.querySelector('h1');"
                       "  return { s: document.getElementById('s').currentSrc,"
                       "    sw: document.getElementById('s').naturalWidth,"
                       "    p: document.getElementById('p').currentSrc,"
                       "    pw: document.getElementById('p').naturalWidth,"
                       "    poster: document.getElementById('v').poster,"
                       "    div: bg(document.getElementById('d')), body: bg(document.body),"
                       "    h1: bg(h1), deep: getComputedStyle(h1).borderImageSource,"
                       "    scripts: Array.from(document.scripts, s => s.src).join(' '),"
                       "    mode: document.compatMode,"
                       "    a: document.getElementById('a').href,"
                       "    web: performance.getEntriesByType('resource')"
                       "      .filter(r => !r.name.startsWith('file:')).map(r => r.name) }; })()")
            .toObject();
    const QString copy = QUrl::fromLocalFile(dest + "/Styled.files/").toString();
    for (const char* key : {"s", "p", "poster"})
        EXPECT_TRUE(shown.value(key).toString().startsWith(copy))
            << key << ": " << shown.value(key).toString().toStdString();
    EXPECT_EQ(shown.value("sw").toInt(), 1);
    EXPECT_EQ(shown.value("pw").toInt(), 1);
    for (const char* key : {"div", "body", "h1", "deep"})
        EXPECT_TRUE(shown.value(key).toString().startsWith("url(\"" + copy))
            << key << ": " << shown.value(key).toString().toStdString();
    EXPECT_EQ(shown.value("scripts").toString(), copy + "static/root.js " + copy + "js/proto.js");
    EXPECT_EQ(shown.value("mode").toString(), "CSS1Compat");
    EXPECT_EQ(shown.value("a").toString(), origin + "/o/next.htm");
    EXPECT_TRUE(shown.value("web").toArray().isEmpty())
        << QJsonDocument(shown.value("web").toArray()).toJson().toStdString();

    const QJsonObject based =
        evaluateInCopy(dest + "/Based.htm", "({ b: document.getElementById('b').currentSrc,"
                                            "   w: document.getElementById('b').naturalWidth,"
                                            "   a: document.querySelector('a').href })")
            .toObject();
    EXPECT_TRUE(based.value("b").toString().startsWith(
        QUrl::fromLocalFile(dest + "/Based.files/").toString()))
        << based.value("b").toString().toStdString();
    EXPECT_EQ(based.value("w").toInt(), 1);
    EXPECT_EQ(based.value("a").toString(), origin + "/o/img/x.htm");
    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(", ").toStdString();
}

TEST_F(OfflineBrowser, TheClassicSwitchSavesWhatTheClassicPassesSaved)
{
    http->clearLog();
    const CommandRun run =
        RunNimbrilCapture({"--endpoint", QStringLiteral("127.0.0.1:%1").arg(chromium->port()),
                           "--scope", "all", "--dest", dest, "--classic", "page"},
                          tmp.path());
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    // The sheet is copied as the server sent it, and nothing it names is taken along.
    EXPECT_EQ(readFile(dest + "/Styled.files/css/site.css"),
              "@import \"parts/deep.css\";\n"
              "body{background:url(/o/img/bg.png)}\n"
              ".never{background:url(../img/never.png)}");
    const QStringList files = filesBelow(dest + "/Styled.files");
    for (const char* name :
         {"bg.png", "deep.css", "deep.png", "div.png", "poster.png", "Inner.htm"})
        EXPECT_FALSE(files.join(',').contains(QLatin1String(name)))
            << name << " in " << files.join(", ").toStdString();
    const QString page = QString::fromUtf8(readFile(dest + "/Styled.htm"));
    EXPECT_TRUE(page.contains("<a id=\"a\" href=\"next.htm\">")) << page.toStdString();
    EXPECT_TRUE(page.contains("srcset=\"img/s.png 1x, img/l.png 2x\"")) << page.toStdString();
    // Its scripts stay as the page had them, to run again when the copy is opened.
    EXPECT_TRUE(page.contains("<script src=\"Styled.files/static/root.js\"></script>"))
        << page.toStdString();
    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(", ").toStdString();
}

// What the page's scripts built is in the copy; run again over it they would build it twice.
TEST_F(OfflineBrowser, ACopyShowsWhatItsScriptsBuiltOnceAndKeepsThemToRestore)
{
    const QString shows = QStringLiteral(
        "({ built: Array.from(document.querySelectorAll('.built'), p => p.textContent).join(),"
        "   runs: window.runs ?? 0, field: document.getElementById('f').value,"
        "   text: document.body.innerText,"
        "   types: Array.from(document.scripts, s => s.type + '/' + s.dataset.nimbrilType).join(),"
        "   data: JSON.parse(document.getElementById('data').textContent).n })");
    const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(chromium->port());
    http->clearLog();
    CommandRun run = RunNimbrilCapture(
        {"--endpoint", endpoint, "--scope", "all", "--dest", dest, "page"}, tmp.path());
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(", ").toStdString();
    const QStringList files = filesBelow(dest + "/Built.files");
    for (const char* script : {"js/build.js", "js/late.js"})
        EXPECT_TRUE(files.contains(script))
            << script << " not in " << files.join(", ").toStdString();

    QJsonObject copy = evaluateInCopy(dest + "/Built.htm", shows).toObject();
    EXPECT_EQ(copy.value("built").toString(), "module,on load,late");
    EXPECT_EQ(copy.value("runs").toInt(), 0);
    EXPECT_EQ(copy.value("field").toString(), "set by a script");
    EXPECT_FALSE(copy.value("text").toString().contains("without scripts"));
    const QString inert = QStringLiteral("text/x-nimbril-inert/");
    EXPECT_EQ(copy.value("types").toString(),
              inert + "," + inert + "module,application/json/undefined," + inert);
    EXPECT_EQ(copy.value("data").toInt(), 1);
    // The type kept beside a script restores it.
    EXPECT_EQ(evaluateInCopy(dest + "/Built.htm",
                             "new Promise(done => { const s = document.createElement('script');"
                             "  const kept = document.scripts[0];"
                             "  s.type = kept.dataset.nimbrilType; s.src = kept.src;"
                             "  s.onload = () => done(window.runs); document.head.append(s); })")
                  .toInt(),
              1);

    // Kept running, they build their part again over what the copy holds.
    const QString active = tmp.filePath("Active");
    run = RunNimbrilCapture(
        {"--endpoint", endpoint, "--scope", "all", "--dest", active, "--keep-scripts", "page"},
        tmp.path());
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    copy = evaluateInCopy(active + "/Built.htm", shows).toObject();
    EXPECT_EQ(copy.value("runs").toInt(), 1);
    EXPECT_EQ(copy.value("built").toString().count("on load"), 2)
        << copy.value("built").toString().toStdString();
    EXPECT_TRUE(http->requestLog().isEmpty()) << http->requestLog().join(", ").toStdString();
}

} // namespace
