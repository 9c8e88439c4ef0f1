#pragma once

#include <QByteArray>
#include <QUrl>

// What the web preview of a saved page may load. A saved page can still name web addresses
// (what was not saved, what its scripts would fetch); looking at it must not reach the network,
// so only what is on this computer or inside the page itself is loaded.
bool PreviewMayLoad(const QUrl& url);

// The engine's command-line flags with a proxy that does not exist put in front, so that even a
// connection the engine opens without a request (a preconnect hint) goes nowhere.
QByteArray PreviewEngineFlags(const QByteArray& given);

// The engine's sandbox cannot start for the root user; only then is it turned off.
bool PreviewNeedsSandboxOff();
