#include "CdpEndpoint.h"

#include "BrowserProfiles.h"
#include "CdpConnection.h"
#include "CdpProtocol.h"
#include "Errors.h"
#include "LoopbackSocket.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <optional>

namespace CdpEndpoint {

namespace {

constexpr int ActivePortHandshakeMs = 60000;

QString hostPortText(const Cdp::HostPort& hp)
{
    return hp.host.contains(u':') ? QStringLiteral("[%1]:%2").arg(hp.host).arg(hp.port)
                                  : QStringLiteral("%1:%2").arg(hp.host).arg(hp.port);
}

} // namespace

Message notLoopbackText(const QString& what)
{
    return {QStringLiteral("C_NotLoopback"),
            QStringLiteral("Nimbril only connects to a browser on this computer (127.0.0.1, ::1 "
                           "or localhost), not to %1."),
            {what}};
}

namespace {

bool acceptsTcp(int port, int timeoutMs)
{
    LoopbackSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
    // Loopback connections are accepted or refused at once, so blocking here is brief.
    return socket.waitForConnected(timeoutMs);
}

// The outcome of asking host:port for /json/version.
struct VersionAnswer
{
    bool answered = false; // an HTTP reply came
    std::optional<QUrl> url;
    QString rawUrl; // what the reply named, for the error text
};

VersionAnswer askVersion(const Cdp::HostPort& hp, int timeoutMs)
{
    const CdpEndpoint::HttpReply reply =
        CdpEndpoint::httpGet(hp.host, hp.port, QStringLiteral("/json/version"), timeoutMs);
    VersionAnswer answer;
    answer.answered = reply.answered;
    if (reply.ok) {
        answer.url = Cdp::parseVersionReply(reply.body);
        answer.rawUrl = QJsonDocument::fromJson(reply.body)
                            .object()
                            .value(QStringLiteral("webSocketDebuggerUrl"))
                            .toString();
    }
    return answer;
}

// Asks host:port for its websocket URL; nullopt when nothing answers there.
std::optional<QUrl> viaHttp(const Cdp::HostPort& hp, int timeoutMs, const Message& hint)
{
    const VersionAnswer answer = askVersion(hp, timeoutMs);
    if (!answer.answered)
        return std::nullopt;
    if (answer.url)
        return answer.url;
    if (!answer.rawUrl.isEmpty())
        throw BrowserUnreachableError(notLoopbackText(answer.rawUrl));
    throw BrowserUnreachableError(
        {QStringLiteral("C_NotChromium"),
         QStringLiteral("Something answers at %1, but it is not a Chromium with remote "
                        "debugging. %2"),
         {hostPortText(hp), hint}});
}

} // namespace

Sources defaultSources()
{
    Sources s;
    s.override = qEnvironmentVariable("NIMBRIL_DEVTOOLS");
    s.profileFolders = BrowserProfiles::defaultFolders();
    return s;
}

Message startHint(int port, const QString& profileFolder)
{
    QString folder = profileFolder;
    const QString home = QDir::homePath();
    if (folder.startsWith(home + u'/'))
        folder = QStringLiteral("$HOME") + folder.mid(home.size());
    if (folder.contains(u' '))
        folder = u'"' + folder + u'"';
    return {
        QStringLiteral("C_StartBrowserHint"),
        QStringLiteral("Start one with: chromium --remote-debugging-port=%1 --user-data-dir=%2"),
        {QString::number(port), folder}};
}

Found discover(const Sources& sources, int timeoutMs)
{
    const QString ownProfile = sources.profileFolders.value(
        0, BrowserProfiles::configHome() + QStringLiteral("/nimbril/browser-profile"));

    if (!sources.override.trimmed().isEmpty()) {
        const std::optional<Cdp::HostPort> hp = Cdp::parseHostPort(sources.override);
        if (!hp)
            throw BrowserUnreachableError(
                {QStringLiteral("C_BadDevtoolsSetting"),
                 QStringLiteral("NIMBRIL_DEVTOOLS must be host:port, for example 127.0.0.1:9222, "
                                "not \"%1\"."),
                 {sources.override}});
        if (!Cdp::isLoopbackHost(hp->host))
            throw BrowserUnreachableError(notLoopbackText(hp->host));
        const Message hint = startHint(hp->port, ownProfile);
        if (const std::optional<QUrl> url = viaHttp(*hp, timeoutMs, hint))
            return {*url, Kind::Override, {}};
        throw BrowserUnreachableError(
            {QStringLiteral("C_NoBrowserAtSetting"),
             QStringLiteral(
                 "No Chromium with remote debugging answers at %1 (NIMBRIL_DEVTOOLS). %2"),
             {hostPortText(*hp), hint}});
    }

    for (const QString& folder : sources.profileFolders) {
        const std::optional<Cdp::ActivePort> ap = BrowserProfiles::activePort(folder);
        if (ap && acceptsTcp(ap->port, timeoutMs))
            return {Cdp::activePortUrl(*ap), Kind::ActivePort, folder};
    }

    const std::optional<Cdp::HostPort> fallback = Cdp::parseHostPort(sources.fallback);
    const int port = fallback ? fallback->port : 9222;
    const Message hint = startHint(port, ownProfile);
    if (fallback && Cdp::isLoopbackHost(fallback->host)) {
        if (const std::optional<QUrl> url = viaHttp(*fallback, timeoutMs, hint))
            return {*url, Kind::Fallback, {}};
    }
    throw BrowserUnreachableError(
        {QStringLiteral("C_NoBrowserRunning"),
         QStringLiteral("No Chromium with remote debugging is running. %1"),
         {hint}});
}

Found connectBrowser(CdpConnection& connection, const Sources& sources)
{
    const Found found = discover(sources);
    connection.connectTo(found.url, found.kind == Kind::ActivePort
                                        ? ActivePortHandshakeMs
                                        : CdpConnection::DefaultConnectTimeoutMs);
    return found;
}

HttpReply httpGet(const QString& host, int port, const QString& path, int timeoutMs)
{
    // A browser's page list of thousands of tabs is a few megabytes.
    constexpr qsizetype kLargestHttpReply = 16 << 20;
    // One request on a bare socket: the browser's endpoint answers HTTP/1.1 with a length, and
    // the general-purpose client costs more to start than the whole exchange.
    LoopbackSocket socket;
    QByteArray received;
    qsizetype headerEnd = -1;
    qint64 length = -1;
    bool tooLarge = false;
    bool closed = false;
    QEventLoop loop;
    const auto whole = [&] {
        return headerEnd >= 0 && length >= 0 && received.size() - headerEnd >= length;
    };
    QObject::connect(&socket, &LoopbackSocket::connected, &loop, [&] {
        socket.write("GET " + QUrl(path).toEncoded() + " HTTP/1.1\r\nHost: " + host.toUtf8() + ':' +
                     QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
    });
    QObject::connect(&socket, &LoopbackSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        if (received.size() > kLargestHttpReply) {
            tooLarge = true;
            loop.quit();
            return;
        }
        if (headerEnd < 0) {
            const qsizetype end = received.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            headerEnd = end + 4;
            for (const QByteArray& line : received.left(end).split('\n')) {
                const qsizetype colon = line.indexOf(':');
                if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
                    bool ok = false;
                    length = line.mid(colon + 1).trimmed().toLongLong(&ok);
                    if (!ok)
                        length = -1;
                }
            }
        }
        if (whole())
            loop.quit();
    });
    const auto gone = [&] {
        closed = true;
        loop.quit();
    };
    QObject::connect(&socket, &LoopbackSocket::disconnected, &loop, gone);
    QObject::connect(&socket, &LoopbackSocket::errorOccurred, &loop, gone);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    socket.connectToHost(host, quint16(port));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    socket.abort();

    HttpReply out;
    const QList<QByteArray> status = received.left(received.indexOf("\r\n")).split(' ');
    if (status.size() < 2 || !status[0].startsWith("HTTP/1."))
        return out;
    out.answered = true;
    // Without a length the body ends where the connection does.
    const bool complete = whole() || (headerEnd >= 0 && length < 0 && closed);
    if (!tooLarge && complete && status[1].startsWith('2') && status[1].size() == 3) {
        out.ok = true;
        out.body = received.mid(headerEnd, length >= 0 ? length : -1);
    }
    return out;
}

} // namespace CdpEndpoint
