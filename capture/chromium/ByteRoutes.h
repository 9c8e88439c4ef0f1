#pragma once

#include "Browser.h"
#include "ChromiumDocument.h"
#include "DiskCache.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class CdpConnection;

// What the byte routes measured on one connection, for benchmarks and the command line.
struct FetchStats
{
    int resourceReads = 0;
    qint64 resourceBytes = 0;
    int diskReads = 0;     // of resourceReads, those read from the browser's disk cache
    qint64 diskBytes = 0;  // of resourceBytes, those read from the browser's disk cache
    qint64 cacheMs = 0;    // time spent reading the disk cache
    qint64 protocolMs = 0; // time spent waiting for resource bytes from the browser
};

// One way to the bytes the browser holds for a document's resources, none of which asks the
// server. A route hands the sink what it finds and removes it from `todo`; what it cannot read
// stays for the next route.
class ByteRoute
{
public:
    virtual ~ByteRoute() = default;
    virtual void read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink) = 0;
};

// The browser's HTTP cache on disk, read directly; only for contexts that keep it there, and
// only an entry whose size agrees with what the page holds.
class DiskCacheRoute : public ByteRoute
{
public:
    DiskCacheRoute(DiskCache::Reader& reader, FetchStats& stats) : m_reader(reader), m_stats(stats)
    {}
    void read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink) override;

private:
    DiskCache::Reader& m_reader;
    FetchStats& m_stats;
};

// A route that asks the browser over the protocol.
class ProtocolRoute : public ByteRoute
{
protected:
    ProtocolRoute(CdpConnection& connection, FetchStats& stats)
        : m_connection(connection), m_stats(stats)
    {}
    CdpConnection& m_connection;
    FetchStats& m_stats;
};

// Bodies the layer saw arrive while it watched the page load (even no-store ones).
class WatchedBodyRoute : public ProtocolRoute
{
public:
    // The request ids of the loads seen on a session, by URL.
    using Watched = std::function<QHash<QString, QString>(const QString& session)>;
    WatchedBodyRoute(CdpConnection& connection, Watched watched, FetchStats& stats)
        : ProtocolRoute(connection, stats), m_watched(std::move(watched))
    {}
    void read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink) override;

private:
    Watched m_watched;
};

// The resources the page keeps in memory.
class PageMemoryRoute : public ProtocolRoute
{
public:
    PageMemoryRoute(CdpConnection& connection, FetchStats& stats) : ProtocolRoute(connection, stats)
    {}
    void read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink) override;
};

// The HTTP cache for the document's own origin, read through the page (only-if-cached): what the
// page no longer keeps in memory and the disk reader could not use.
class CachedReadRoute : public ProtocolRoute
{
public:
    CachedReadRoute(CdpConnection& connection, FetchStats& stats) : ProtocolRoute(connection, stats)
    {}
    void read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink) override;
};
