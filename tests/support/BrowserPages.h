#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class CdpConnection;
class ChromiumProcess;
class TestHttpServer;

// Steps the real-browser tests share: opening a page and waiting for it, and running the
// nimbril-capture command as a user's script would.

// Starts a headless browser, a loopback server and a connection to the browser for a suite
// that shares them. Empty when all is ready; else why the suite's tests are skipped.
QString StartBrowserSuite(std::unique_ptr<ChromiumProcess>& chromium,
                          std::unique_ptr<TestHttpServer>& http,
                          std::unique_ptr<CdpConnection>& control);

struct OpenedPage
{
    QString targetId;
    QString sessionId; // stays attached: the test may read the live page through it
};

// Opens a tab at `url` and waits until its document has loaded and `ready` (a script
// expression; none by default) holds. Empty ids when that does not happen in time.
OpenedPage OpenPage(CdpConnection& control, const QString& url, int timeoutMs = 20000,
                    const QString& ready = {});

// Waits in an attached session until the document at `url` has loaded and `ready` holds.
bool WaitUntilLoaded(CdpConnection& control, const QString& session, const QString& url,
                     int timeoutMs = 20000, const QString& ready = {});

struct CommandRun
{
    int code = -1; // -1: crashed or did not end in time
    QString out;
    QString err;
};

// Runs nimbril-capture with its home and cache folders inside `scratch` and no display.
CommandRun RunNimbrilCapture(const QStringList& arguments, const QString& scratch,
                             int timeoutMs = 120000);
