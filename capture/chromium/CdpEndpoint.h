#pragma once

#include "Message.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

class CdpConnection;

// Finding the running browser's DevTools websocket: the NIMBRIL_DEVTOOLS override first, then
// the DevToolsActivePort files of the known profiles, then the usual port. Only loopback
// addresses are accepted. When nothing answers, the error tells the user how to start a browser.
namespace CdpEndpoint {

// Where to look, in this order.
struct Sources
{
    QString override;           // "host:port" (NIMBRIL_DEVTOOLS); empty: not set
    QStringList profileFolders; // each may hold a DevToolsActivePort file
    QString fallback = QStringLiteral("127.0.0.1:9222");
};

enum class Kind
{
    Override,   // from NIMBRIL_DEVTOOLS, via /json/version
    ActivePort, // from a profile's DevToolsActivePort file; no HTTP request was made
    Fallback,   // the fallback port, via /json/version
};

struct Found
{
    QUrl url; // ws://127.0.0.1:PORT/devtools/browser/ID
    Kind kind = Kind::Fallback;
    QString profileFolder; // the folder of the DevToolsActivePort file (ActivePort only)
};

// NIMBRIL_DEVTOOLS from the environment, the default profile folders
// (BrowserProfiles::defaultFolders), 127.0.0.1:9222.
Sources defaultSources();

// "Start one with: chromium --remote-debugging-port=PORT --user-data-dir=FOLDER", with the home
// folder written as $HOME so that the line can be pasted into a shell.
Message startHint(int port, const QString& profileFolder);

// "Nimbril only connects to a browser on this computer ..., not to WHAT."
Message notLoopbackText(const QString& what);

// What a plain HTTP GET to the browser brought back.
struct HttpReply
{
    bool answered = false; // an HTTP reply came
    bool ok = false;       // ... with a success status
    QByteArray body;
};
// GET http://host:port/path, without proxy or redirects, waiting at most timeoutMs.
HttpReply httpGet(const QString& host, int port, const QString& path, int timeoutMs);

// Finds the browser's websocket URL; throws BrowserUnreachableError with a text for the user
// when none answers or an address is not loopback. The override, when set, is the only
// source tried. A DevToolsActivePort file counts when its port accepts a TCP connection (a stale
// file of a browser that crashed does not); no websocket is opened, as a browser whose
// debugging was allowed by hand asks the user about every websocket.
Found discover(const Sources& sources = defaultSources(), int timeoutMs = 3000);

// discover() and CdpConnection::connectTo(); a browser found through DevToolsActivePort gets
// a minute for the handshake, the time the user may take to allow the connection.
Found connectBrowser(CdpConnection& connection, const Sources& sources = defaultSources());

} // namespace CdpEndpoint
