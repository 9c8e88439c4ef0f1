// The viewer's web preview: a saved page that still names web addresses is shown without a
// single request leaving the computer, and its scripts do not run.
#include "LanguageCatalogue.h"
#include "PreviewPane.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestWait.h"
#include "WebPreviewPolicy.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(WebPreviewPolicy, LoadsOnlyWhatIsOnThisComputerOrInThePage)
{
    const struct
    {
        const char* url;
        bool loads;
    } cases[] = {
        {"file:///home/u/NimbrilApp/WebPage/News.htm", true},
        {"FILE:///home/u/NimbrilApp/WebPage/News.files/a.gif", true},
        {"data:image/png;base64,iVBORw0KGgo=", true},
        {"blob:file:///6f1c5a2e-1b9e-4c57-9d1e-2a9c0d7b1f00", true},
        {"http://127.0.0.1:8080/a.gif", false},
        {"https://example.org/style.css", false},
        {"ws://127.0.0.1:9222/devtools", false},
        {"ftp://example.org/file", false},
        {"//example.org/a.gif", false},
        {"qrc:/nimbril.svg", false},
        {"chrome://gpu", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PreviewMayLoad(QUrl(QString::fromLatin1(c.url))), c.loads) << c.url;

    EXPECT_EQ(PreviewEngineFlags(""), "--proxy-server=127.0.0.1:9 --proxy-bypass-list=<-loopback>");
    EXPECT_TRUE(PreviewEngineFlags(" --lang=zh-CN ").endsWith(" --lang=zh-CN"));
}

TEST(WebPreview, ASavedPageNamingWebAddressesMakesNoRequestAndRunsNoScript)
{
    const QString program = QStringLiteral(NIMBRIL_PROGRAM_DIR);
    if (!QFileInfo::exists(program + "/" + PreviewPane::WebModuleName()))
        GTEST_SKIP() << "built without Qt WebEngine";
    TestHttpServer web;
    ASSERT_TRUE(web.start());
    for (const char* path : {"/a.gif", "/s.css", "/f.htm", "/j.js", "/ran"})
        web.serve(path, "text/plain", "x");
    QTemporaryDir tmp;
    const QString page = tmp.filePath("News.htm");
    const QString remote = web.url("").toString();
    writeFile(page, QString("<html><head><title>Saved</title>"
                            "<link rel=stylesheet href='%1/s.css'>"
                            "<link rel=preconnect href='%1'>"
                            "<script src='%1/j.js'></script>"
                            "<script>document.title = 'ran'; fetch('%1/ran');</script>"
                            "</head><body style=\"background: url('%1/a.gif')\">"
                            "<img src='%1/a.gif'><iframe src='%1/f.htm'></iframe>"
                            "<p>Hello page</p></body></html>")
                        .arg(remote)
                        .toUtf8());

    LanguageCatalogue language(program + "/");
    PreviewPane pane(language, program);
    pane.resize(400, 300);
    pane.show();
    ASSERT_TRUE(pane.HasWebEngine());
    int loads = 0;
    bool loaded = false;
    QObject::connect(&pane, &PreviewPane::webPageLoaded, [&](bool ok) {
        ++loads;
        loaded = ok;
    });
    pane.Navigate(page, fcWebPage);
    EXPECT_EQ(pane.shown(), PreviewPane::Shown::Web);
    ASSERT_TRUE(spinUntil([&] { return loads > 0; }, 60000)) << "the engine never loaded the page";
    EXPECT_TRUE(loaded);
    // The page has loaded once its pictures, sheets and frames were asked for.

    EXPECT_EQ(web.requestLog(), QStringList());
    QWidget* view = pane.currentWidget();
    EXPECT_EQ(view->property("title").toString(), "Saved") << "the page's script ran";
}

} // namespace
