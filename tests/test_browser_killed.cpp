// The browser dies in the middle of a save: the run ends with a clear error instead of hanging,
// the files saved so far stay, and the next run is told plainly that no browser is reachable.
#include "BrowserPages.h"
#include "CaptureRun.h"
#include "CdpConnection.h"
#include "ChromiumBrowser.h"
#include "ChromiumProcess.h"
#include "Errors.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "TestWait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QByteArray kGif =
    QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAAAAAAALAAAAAABAAEAAAICRAEAOw==");
constexpr int kImages = 20;

// A file label that runs an action when the engine shows its Nth file.
class TripwireDisplay : public PlainTextDisplay
{
public:
    void setText(const QString& text) override
    {
        PlainTextDisplay::setText(text);
        if (!text.isEmpty() && ++shown == tripAt && trip)
            trip();
    }
    int shown = 0;
    int tripAt = 0;
    std::function<void()> trip;
};

} // namespace

TEST(BrowserKilled, MidSaveEndsWithAClearErrorAndKeepsTheFilesSoFar)
{
    ChromiumProcess chromium;
    if (!chromium.start())
        GTEST_SKIP() << chromium.failure().toStdString();
    TestHttpServer http;
    ASSERT_TRUE(http.start());
    QByteArray html = "<html><head><title>Gallery</title></head><body>";
    for (int i = 0; i < kImages; ++i) {
        const QByteArray name = "img/i" + QByteArray::number(i) + ".gif";
        html += "<img src=\"" + name + "\">";
        http.serve(QStringLiteral("/g/") + QString::fromLatin1(name), "image/gif", kGif);
    }
    http.serve(QStringLiteral("/g/page.htm"), "text/html", html + "</body></html>");

    {
        CdpConnection control;
        control.connectTo(chromium.browserUrl());
        ASSERT_FALSE(OpenPage(control, http.url(QStringLiteral("/g/page.htm")).toString())
                         .targetId.isEmpty());
    }

    QTemporaryDir tmp;
    const QString dest = tmp.filePath(QStringLiteral("WebPage"));
    QDir().mkpath(dest);
    CdpEndpoint::Sources sources;
    sources.override = QStringLiteral("127.0.0.1:%1").arg(chromium.port());
    sources.profileFolders.clear();
    ChromiumBrowser browser(sources);

    PlainTextDisplay page;
    PlainTextDisplay address;
    TripwireDisplay file;
    file.tripAt = 5;
    file.trip = [&] { chromium.stop(); };
    CaptureRun engine(&browser);
    engine.displays.page = &page;
    engine.displays.url = &address;
    engine.displays.file = &file;

    QString error;
    try {
        engine.capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
    } catch (const NimbrilError& e) {
        error = e.text();
    }
    EXPECT_GE(file.shown, file.tripAt) << "the browser was never stopped";
    EXPECT_FALSE(error.isEmpty()) << "a save whose browser died was reported as a success";
    // In plain words: the browser went away; not an anonymous call failure.
    EXPECT_TRUE(error.startsWith("The browser closed")) << error.toStdString();
    // What was saved before the browser died is still there; nothing beyond the images, the
    // page's url.ini and (when the page got that far) the page itself.
    const QStringList saved = filesBelow(dest);
    EXPECT_GE(saved.size(), 1) << error.toStdString();
    for (const QString& f : saved) {
        EXPECT_TRUE(f.startsWith(QLatin1String("Gallery"))) << f.toStdString();
        if (f.endsWith(QLatin1String(".gif"))) {
            EXPECT_EQ(readFile(dest + u'/' + f), kGif) << f.toStdString();
        }
    }

    // The next run learns at once that there is no browser, in words for the user.
    try {
        engine.capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
        ADD_FAILURE() << "a run without a browser succeeded";
    } catch (const NimbrilError& e) {
        EXPECT_FALSE(e.text().isEmpty());
    }
}
