#pragma once

#include "BrowserAccess.h"
#include "BrowserCache.h"
#include "CdpEndpoint.h"
#include "CdpProtocol.h"
#include "DiskCache.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class CdpConnection;
struct CdpDocState;

// The browser access layer over a running Chromium's DevTools protocol. One connection is kept
// for the program's whole run (opened at first use, opened again after the browser went away).
// The page's live DOM is never written: addresses the saver writes are kept beside the page and
// applied to an inert copy when the page is serialised, so the live page stays exactly as it
// was and no request for a rewritten address is ever made. The cache side hands out the bytes
// the browser holds for a page's resources, written once per URL into the browser-cache folder.
class CdpBrowser : public BrowserAccess, public BrowserCache
{
public:
    // The desktop's view of the browser's windows, where there is one (X11).
    struct WindowSystem
    {
        // The caption of the topmost browser window; nullopt when there is none.
        std::function<std::optional<QString>()> topmostCaption;
        // Asks every browser window to close; how many were asked (-1: no windows reachable).
        std::function<int()> closeWindows;
    };

    explicit CdpBrowser(CdpEndpoint::Sources sources = CdpEndpoint::defaultSources());
    ~CdpBrowser() override;

    void setWindowSystem(WindowSystem windowSystem) { m_windowSystem = std::move(windowSystem); }
    // Where fetched bytes are written; BrowserCacheFolder() by default.
    void setCacheFolder(const QString& folder) { m_cacheFolder = folder; }
    // Whether resource bytes are read from the browser's disk cache before they are asked of the
    // browser (on by default; off, every byte comes through the protocol).
    void setDiskCacheEnabled(bool enabled) { m_diskCacheEnabled = enabled; }
    // The browser's cache folders the disk route reads (found when connecting).
    QStringList diskCacheFolders() const { return m_diskCache.folders(); }

    // Connects when not connected; throws BrowserUnreachableError with a text for the user.
    void ensureConnected();
    CdpConnection& connection() { return *m_connection; }

    WindowListPtr windows() override;
    QString topmostBrowserCaption() override;
    void closeAllBrowserWindows() override;
    QString localFile(const QString& url) override;

    // Measured costs of the current connection, for benchmarks and the command line.
    struct Stats
    {
        int resourceReads = 0;
        qint64 resourceBytes = 0;
        int diskReads = 0;     // of resourceReads, those read from the browser's disk cache
        qint64 diskBytes = 0;  // of resourceBytes, those read from the browser's disk cache
        qint64 cacheMs = 0;    // time spent reading the disk cache
        qint64 protocolMs = 0; // time spent waiting for resource bytes from the browser
        qint64 diskMs = 0;     // time spent writing them
    };
    const Stats& stats() const { return m_stats; }

    // Internal: the flat session of a page target, attached on first use.
    QString pageSession(const QString& targetId);
    // Internal: the session that serves a frame (an out-of-process frame has its own).
    QString frameSession(const QString& frameId, const QString& parentSession);
    // Internal: whether pages of this browser context keep their cache in the folders found
    // (a private window's context keeps it in memory).
    bool diskCacheServes(const QString& browserContextId) const;
    // Internal: a document whose resources localFile() may be asked for.
    void registerDocument(const std::shared_ptr<CdpDocState>& doc);
    QString browserTitleFallback();
    // The open pages, the one looked at last first.
    QList<Cdp::TargetInfo> pages();

private:
    void onEvent(const QString& method, const class QJsonObject& params, const QString& session);
    void forgetSessions();
    // Enables what the layer needs on a newly attached page or frame session.
    void prepareSession(const QString& session);
    QStringList activationOrder();
    void prefetch(const std::shared_ptr<CdpDocState>& doc, const QStringList& urls);
    QString writeCacheFile(const QString& url, const QByteArray& bytes);
    void findDiskCache(const QString& profileHint);
    // Reads what it can of `todo` from the browser's disk cache, removing what it found.
    void readDiskCache(const CdpDocState& doc, QStringList& todo,
                       QList<std::pair<QString, QByteArray>>& got);

    CdpEndpoint::Sources m_sources;
    std::unique_ptr<CdpConnection> m_connection;
    WindowSystem m_windowSystem;
    QString m_cacheFolder;
    QHash<QString, QString> m_pageSessions;             // target id -> session id
    QHash<QString, QString> m_frameSessions;            // out-of-process frame id -> session id
    QHash<QString, QHash<QString, QString>> m_requests; // session -> url -> request id
    QList<std::weak_ptr<CdpDocState>> m_documents;      // most recent last
    QHash<QString, QString> m_fetched;                  // url -> local file ("" = not held)
    Stats m_stats;
    bool m_httpListAnswers = true;
    bool m_diskCacheEnabled = true;
    DiskCache::Reader m_diskCache;
    QString m_defaultContext; // the browser context whose cache is the one on disk
};
