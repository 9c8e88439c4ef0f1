#include "BrowserPages.h"

#include "CdpConnection.h"
#include "CdpProtocol.h"
#include "ChromiumProcess.h"
#include "TestHttpServer.h"
#include "TestWait.h"

#include <QProcess>
#include <QProcessEnvironment>

QString StartBrowserSuite(std::unique_ptr<ChromiumProcess>& chromium,
                          std::unique_ptr<TestHttpServer>& http,
                          std::unique_ptr<CdpConnection>& control)
{
    chromium = std::make_unique<ChromiumProcess>();
    if (!chromium->start())
        return chromium->failure();
    http = std::make_unique<TestHttpServer>();
    if (!http->start())
        return QStringLiteral("test server did not start");
    control = std::make_unique<CdpConnection>();
    control->connectTo(chromium->browserUrl());
    return {};
}

bool WaitUntilLoaded(CdpConnection& control, const QString& session, const QString& url,
                     int timeoutMs, const QString& ready)
{
    // A new tab shows about:blank, complete at once, before the page itself commits.
    QString loaded =
        QStringLiteral("location.href === '%1' && document.readyState === 'complete'").arg(url);
    if (!ready.isEmpty())
        loaded += QStringLiteral(" && (") + ready + u')';
    return spinUntil(
        [&] {
            return Cdp::parseEvaluation(control.call(QStringLiteral("Runtime.evaluate"),
                                                     {{QStringLiteral("expression"), loaded}},
                                                     session, timeoutMs))
                .value.toBool();
        },
        timeoutMs);
}

OpenedPage OpenPage(CdpConnection& control, const QString& url, int timeoutMs, const QString& ready)
{
    OpenedPage page;
    page.targetId =
        control.call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), url}})
            .value(QStringLiteral("targetId"))
            .toString();
    page.sessionId =
        control
            .call(QStringLiteral("Target.attachToTarget"),
                  {{QStringLiteral("targetId"), page.targetId}, {QStringLiteral("flatten"), true}})
            .value(QStringLiteral("sessionId"))
            .toString();
    if (!WaitUntilLoaded(control, page.sessionId, url, timeoutMs, ready))
        return {};
    return page;
}

CommandRun RunNimbrilCapture(const QStringList& arguments, const QString& scratch, int timeoutMs)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), scratch + QStringLiteral("/xdg-cache"));
    env.insert(QStringLiteral("HOME"), scratch + QStringLiteral("/home"));
    env.remove(QStringLiteral("DISPLAY"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(NIMBRIL_PROGRAM_DIR "/nimbril-capture"), arguments);
    const bool ended = spinUntil([&] { return p.state() == QProcess::NotRunning; }, timeoutMs);
    if (!ended) {
        p.kill();
        p.waitForFinished(5000);
    }
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}
