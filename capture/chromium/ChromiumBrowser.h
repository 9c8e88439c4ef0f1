#pragma once

#include "Browser.h"
#include "ByteRoutes.h"
#include "CdpEndpoint.h"
#include "CdpProtocol.h"
#include "ChromiumDocument.h"
#include "DiskCache.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CdpConnection;

// The browser over a running Chromium's DevTools protocol. One connection is kept for the
// program's whole run (opened at first use, opened again after the browser went away). The live
// page is never written: the saved copy's addresses are applied to an inert copy when the page is
// serialised. Resource bytes go from the browser straight to the sink the capture gives.
class ChromiumBrowser : public Browser
{
public:
    // The desktop's view of the browser's windows, where there is one (X11).
    struct WindowSystem
    {
        // The caption of the topmost browser window; nullopt when there is none (then the title
        // of the page the browser shows in front with the focus stands for it).
        std::function<std::optional<QString>()> topmostCaption;
        // Asks every browser window to close; how many were asked (-1: no windows reachable).
        std::function<int()> closeWindows;
    };

    explicit ChromiumBrowser(CdpEndpoint::Sources sources = CdpEndpoint::defaultSources());
    ~ChromiumBrowser() override;

    void setWindowSystem(WindowSystem windowSystem) { m_windowSystem = std::move(windowSystem); }
    // Whether resource bytes are read from the browser's disk cache before they are asked of the
    // browser (on by default; off, every byte comes through the protocol).
    void setDiskCacheEnabled(bool enabled) { m_diskCacheEnabled = enabled; }
    // The browser's cache folders the disk route reads (found when connecting).
    QStringList diskCacheFolders() const { return m_diskCache.folders(); }

    // Connects when not connected; throws BrowserUnreachableError with a text for the user.
    void ensureConnected();
    CdpConnection& connection() { return *m_connection; }
    const FetchStats& stats() const { return m_stats; }

    QList<PageRef> pages() override;
    void prepare(const QList<PageRef>& pages) override;
    std::optional<PageSnapshot> snapshot(const PageRef& page) override;
    QString text(const PageSnapshot& page, int element) override;
    std::shared_ptr<const PageSnapshot> inlineFrame(const PageSnapshot& page, int element) override;
    void fetch(const PageSnapshot& page, const QStringList& urls, ResourceSink& sink) override;
    bool fetchShown(const QString& url, ResourceSink& sink) override;
    void serialize(const PageSnapshot& page, const QList<AttributeWrite>& writes,
                   const CopyOptions& options, const TextWriter& write) override;
    void serializeAhead(const PageSnapshot& page, const QList<AttributeWrite>& writes,
                        const CopyOptions& options) override;
    QString frontWindowCaption() override;
    void closeAllWindows() override;

private:
    QList<Cdp::TargetInfo> pageTargets();
    QStringList activationOrder();
    // How each of the pages stands (in their order); nullopt for a page that could not be asked.
    QList<std::optional<Cdp::PageFocus>> askPageFocus(const QList<Cdp::TargetInfo>& pages);
    void findDiskCache(const QString& profileHint);
    void onEvent(const QString& method, const class QJsonObject& params, const QString& session);
    void forgetSessions();
    // Closes a connection whose other end does not answer, and says so.
    [[noreturn]] void notAnswering();
    QString pageSession(const QString& targetId);
    QString frameSession(const QString& frameId, const QString& parentSession);
    // Sets a new session up and waits for its answers.
    void prepareSession(const QString& session);
    // Sends a session's set-up requests; their ids.
    QList<int> sendSessionSetup(const QString& session);
    // Whether pages of this context keep their cache in the folders found (a private window's
    // context keeps it in memory).
    bool diskCacheServes(const QString& browserContextId) const;
    // Reads a document and, recursively, the documents of its named FRAME elements; `ahead` is
    // what was sent for the document before its turn.
    PageSnapshot readDocument(const QString& session, const QString& frameId, const QString& topUrl,
                              bool onDisk, const QString& context,
                              ChromiumDocuments::DocumentRequests ahead = {});
    // Asks for the document of the page after `targetId` in the capture's order, so that the
    // browser reads it while this page's files are written.
    void readAheadAfter(const QString& targetId);
    // Sends the first requests for a page already attached to, unless they were sent.
    void readAhead(const QString& targetId);
    // Lets go of what was asked for ahead and not yet taken.
    void dropReadAhead();
    const ChromiumDocument& document(const PageSnapshot& page) const;
    void readBytes(const ChromiumDocument& doc, const QStringList& urls, ResourceSink& sink);
    // Runs a call of a capture; a failure because the browser went away says so in plain words.
    template <typename Call> auto whileConnected(Call&& call) -> decltype(call());

    CdpEndpoint::Sources m_sources;
    std::unique_ptr<CdpConnection> m_connection;
    WindowSystem m_windowSystem;
    QHash<QString, QString> m_pageSessions;             // target id -> session id
    QHash<QString, QString> m_frameSessions;            // out-of-process frame id -> session id
    QHash<QString, QList<int>> m_sessionSetups;         // session -> set-up requests not waited for
    QHash<QString, QHash<QString, QString>> m_requests; // session -> url -> request id
    QHash<quint64, std::shared_ptr<ChromiumDocument>> m_documents; // of the current capture
    QStringList m_plannedPages; // the capture's pages (target ids) in their order, from prepare()
    QHash<QString, ChromiumDocuments::DocumentRequests> m_readAhead; // target id -> sent early
    // A copy asked for before serialize() takes it: the request, and what it was asked with.
    struct CopyAhead
    {
        int request = 0;
        QList<AttributeWrite> writes;
        CopyOptions options;
    };
    QHash<quint64, CopyAhead> m_copiesAhead; // document handle -> its copy, asked for
    quint64 m_nextHandle = 1;
    FetchStats m_stats;
    bool m_httpListAnswers = true;
    bool m_diskCacheEnabled = true;
    DiskCache::Reader m_diskCache;
    QString m_defaultContext; // the browser context whose cache is the one on disk
    std::vector<std::unique_ptr<ByteRoute>> m_routes; // tried in order
};
