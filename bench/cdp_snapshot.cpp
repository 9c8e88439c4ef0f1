// The browser's own way to save a page, as the peer the capture benchmark measures Nimbril
// against: Page.captureSnapshot (MHTML) of every open page through the DevTools protocol. With
// --html, the least any saver of the live pages asks of the browser instead: each page's
// document as text (document.documentElement.outerHTML), a floor for saving pages whole.
//
//     cdp_snapshot --endpoint 127.0.0.1:PORT --dest FOLDER [--html]
//
// Writes FOLDER/pageN.mhtml (or pageN.html) for each page target and prints "snapshots: N
// pages, B bytes" on standard error. Attaches and snapshots are pipelined: all requests go out
// before any reply is awaited, so the browser works on the pages while earlier replies travel.

#include "CdpConnection.h"
#include "CdpEndpoint.h"
#include "CdpProtocol.h"
#include "Errors.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QJsonValue>
#include <QTextStream>

namespace {

int run(const QString& endpoint, const QString& dest, bool html)
{
    CdpEndpoint::Sources sources;
    sources.override = endpoint;
    CdpConnection connection;
    connection.connectTo(CdpEndpoint::discover(sources).url);

    QList<Cdp::TargetInfo> pages;
    for (const Cdp::TargetInfo& target :
         Cdp::parseTargets(connection.call(QStringLiteral("Target.getTargets"))))
        if (target.type == QLatin1String("page"))
            pages.append(target);

    QList<int> attachIds;
    for (const Cdp::TargetInfo& page : pages)
        attachIds.append(connection.send(
            QStringLiteral("Target.attachToTarget"),
            {{QStringLiteral("targetId"), page.targetId}, {QStringLiteral("flatten"), true}}));
    QList<int> snapshotIds;
    for (const QJsonObject& attached : connection.waitAll(attachIds)) {
        const QString session = attached.value(QStringLiteral("sessionId")).toString();
        snapshotIds.append(
            html ? connection.send(QStringLiteral("Runtime.evaluate"),
                                   {{QStringLiteral("expression"),
                                     QStringLiteral("document.documentElement.outerHTML")},
                                    {QStringLiteral("returnByValue"), true}},
                                   session)
                 : connection.send(QStringLiteral("Page.captureSnapshot"),
                                   {{QStringLiteral("format"), QStringLiteral("mhtml")}}, session));
    }

    if (!QDir().mkpath(dest))
        throw InOutError(dest);
    qint64 bytes = 0;
    const QList<QJsonObject> snapshots = connection.waitAll(snapshotIds, 120000);
    for (qsizetype i = 0; i < snapshots.size(); ++i) {
        const QJsonValue text = html ? snapshots[i]
                                           .value(QStringLiteral("result"))
                                           .toObject()
                                           .value(QStringLiteral("value"))
                                     : snapshots[i].value(QStringLiteral("data"));
        const QByteArray data = text.toString().toUtf8();
        QFile file(
            QDir(dest).filePath(QStringLiteral("page%1.%2").arg(i).arg(html ? "html" : "mhtml")));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            throw InOutError(file.fileName());
        bytes += data.size();
    }
    QTextStream(stderr) << "snapshots: " << snapshots.size() << " pages, " << bytes << " bytes\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption endpoint(
        QStringLiteral("endpoint"), QStringLiteral("The browser's DevTools address."),
        QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:9222"));
    const QCommandLineOption dest(QStringLiteral("dest"), QStringLiteral("Destination folder."),
                                  QStringLiteral("FOLDER"), QStringLiteral("."));
    const QCommandLineOption html(QStringLiteral("html"),
                                  QStringLiteral("Each page's document as text, not MHTML."));
    parser.addOption(endpoint);
    parser.addOption(dest);
    parser.addOption(html);
    parser.process(app);
    try {
        return run(parser.value(endpoint), parser.value(dest), parser.isSet(html));
    } catch (const NimbrilError& e) {
        QTextStream(stderr) << "cdp_snapshot: " << e.text() << '\n';
        return 1;
    }
}
