// Which page is current where no window caption can be read (Wayland, a headless browser): the
// page the browser shows in front with the focus, asked of a real headless Chromium. A tab
// opened in the background heads the browser's list of pages, so the list's order alone would
// name the wrong page; that tab's own script also claims to be shown and focused.
#include "BrowserPages.h"
#include "CaptureRun.h"
#include "CdpConnection.h"
#include "ChromiumBrowser.h"
#include "ChromiumProcess.h"
#include "TestFiles.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray Page(const QByteArray& title, const QByteArray& script = {})
{
    return "<html><head><title>" + title + "</title><script>" + script +
           "</script></head><body><p>" + title + " text.</p></body></html>";
}

TEST(FrontPage, IsThePageShownWithTheFocusNotTheOneListedFirst)
{
    std::unique_ptr<ChromiumProcess> chromium;
    std::unique_ptr<TestHttpServer> http;
    std::unique_ptr<CdpConnection> control;
    if (const QString skip = StartBrowserSuite(chromium, http, control); !skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    http->serve("/alder.htm", "text/html", Page("Alder"));
    http->serve("/birch.htm", "text/html", Page("Birch"));
    http->serve("/cedar.htm", "text/html",
                Page("Cedar", "Object.defineProperty(document, 'visibilityState', "
                              "{get: () => 'visible'}); document.hasFocus = () => true;"));

    const QString alder = OpenPage(*control, http->url("/alder.htm").toString()).targetId;
    const QString birch = OpenPage(*control, http->url("/birch.htm").toString()).targetId;
    ASSERT_FALSE(alder.isEmpty());
    ASSERT_FALSE(birch.isEmpty());
    control->call("Target.activateTarget", {{"targetId", birch}});
    const QString cedarUrl = http->url("/cedar.htm").toString();
    const QString cedar =
        control->call("Target.createTarget", {{"url", cedarUrl}, {"background", true}})
            .value("targetId")
            .toString();
    const QString cedarSession =
        control->call("Target.attachToTarget", {{"targetId", cedar}, {"flatten", true}})
            .value("sessionId")
            .toString();
    ASSERT_TRUE(WaitUntilLoaded(*control, cedarSession, cedarUrl));

    CdpEndpoint::Sources sources;
    sources.override = QStringLiteral("127.0.0.1:%1").arg(chromium->port());
    sources.profileFolders.clear();
    ChromiumBrowser browser(sources);
    ASSERT_EQ(browser.pages().first().title.toStdString(),
              "Cedar"); // what the list's order alone would name
    EXPECT_EQ(browser.frontWindowCaption().toStdString(), "Birch");

    // The capture of the current page and the command line take that page.
    QTemporaryDir tmp;
    const QString dest = tmp.filePath("Text");
    QDir().mkpath(dest);
    CaptureRun(&browser).capturePages(dest, Scope::CurrentPage, CaptureKind::Text);
    EXPECT_EQ(filesBelow(dest), QStringList({"Birch.txt"}));
    const CommandRun run = RunNimbrilCapture(
        {"--endpoint", sources.override, "--dest", tmp.filePath("Command"), "text"}, tmp.path());
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(filesBelow(tmp.filePath("Command")), QStringList({"Birch.txt"}));

    // The first page brought to the front becomes the current one.
    control->call("Page.bringToFront", {},
                  control->call("Target.attachToTarget", {{"targetId", alder}, {"flatten", true}})
                      .value("sessionId")
                      .toString());
    EXPECT_EQ(browser.frontWindowCaption().toStdString(), "Alder");
}

} // namespace
