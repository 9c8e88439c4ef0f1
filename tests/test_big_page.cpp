// A 50 MB page shown in a real headless Chromium is saved whole by nimbril-capture, with the
// program's memory bounded by a small multiple of the page: the saved copy comes in slices and
// is written as it comes, never held whole.
#include "BrowserPages.h"
#include "CdpConnection.h"
#include "ChromiumProcess.h"
#include "TestFiles.h"
#include "TestHttpServer.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

constexpr qsizetype kPageBytes = 50 * 1024 * 1024;
#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's shadow memory and quarantine come on top in its builds.
constexpr qint64 kMemoryBound = 40 * qint64(kPageBytes);
#else
constexpr qint64 kMemoryBound = 4 * qint64(kPageBytes);
#endif

QByteArray BigPage(int* paragraphs)
{
    static const char* const words[] = {"alpha",  "beta",    "gamma", "delta", "report",
                                        "market", "weather", "sport", "city",  "news"};
    QByteArray html = "<html><head><title>Big page</title></head><body>\n";
    html.reserve(kPageBytes + 4096);
    int n = 0;
    while (html.size() < kPageBytes) {
        html += "<p id=\"p" + QByteArray::number(n) + "\">";
        for (int w = 0; w < 60; ++w)
            html += QByteArray(words[(n * 7 + w * 3) % 10]) + ' ';
        html += "</p>\n";
        if (n % 5000 == 0)
            html += "<img src=\"a.png\">\n";
        ++n;
    }
    *paragraphs = n;
    return html + "<p id=\"last\">the end</p></body></html>";
}

TEST(BigPage, FiftyMegabytePageIsSavedWholeInBoundedMemory)
{
    ChromiumProcess chromium;
    if (!chromium.start())
        GTEST_SKIP() << chromium.failure().toStdString();
    TestHttpServer http;
    ASSERT_TRUE(http.start());
    int paragraphs = 0;
    http.serve("/big.htm", "text/html", BigPage(&paragraphs));
    http.serve(
        "/a.png", "image/png",
        QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYA"
                               "AAAAYAAjCB0C8AAAAASUVORK5CYII="));

    CdpConnection control;
    control.connectTo(chromium.browserUrl());
    ASSERT_FALSE(OpenPage(control, http.url("/big.htm").toString(), 120000,
                          "!!document.getElementById('last')")
                     .targetId.isEmpty());

    QTemporaryDir tmp;
    const CommandRun run =
        RunNimbrilCapture({"--endpoint", QStringLiteral("127.0.0.1:%1").arg(chromium.port()),
                           "--scope", "all", "--dest", tmp.filePath("out"), "page"},
                          tmp.path(), 300000);
    ASSERT_EQ(run.code, 0) << run.err.toStdString();

    // The browser is still running, so the only child that has ended is the capture.
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    const qint64 peakBytes = qint64(usage.ru_maxrss) * 1024;
    EXPECT_LT(peakBytes, kMemoryBound) << "peak resident memory " << peakBytes / 1048576
                                       << " MB for a " << kPageBytes / 1048576 << " MB page";

    QString saved;
    QDirIterator it(tmp.filePath("out"), {"*.htm"}, QDir::Files);
    while (it.hasNext())
        saved = it.next();
    ASSERT_FALSE(saved.isEmpty());
    const QByteArray html = readFile(saved);
    EXPECT_GE(html.size(), kPageBytes);
    EXPECT_TRUE(
        html.contains(QByteArray("<p id=\"p" + QByteArray::number(paragraphs - 1) + "\">")));
    EXPECT_TRUE(html.contains("<p id=\"last\">the end</p>"));
    EXPECT_TRUE(html.contains("Big page.files/a.png"));
}

} // namespace
