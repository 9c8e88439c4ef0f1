// What this reader relies on, as observed in the files of Debian's Chromium 156 ("simple cache",
// folder <profile>/Cache/Cache_Data, or below $XDG_CACHE_HOME for profiles below
// $XDG_CONFIG_HOME). All numbers are little-endian.
//
//   File name  the first 8 bytes of SHA-1(key) read as a 64-bit number, in 16 hex digits, + "_0".
//   Header     u64 magic 0xfcfb6d1ba7725c30, u32 version (5), u32 key length, u32 key hash,
//              4 bytes padding: 24 bytes. Then the key itself.
//   Stream 1   the response body as it came over the wire (still content-encoded), then an end
//              record: u64 magic 0xf4fa6f45970d41d8, u32 flags (1: has CRC-32, 2: the key's
//              SHA-256 precedes the record), u32 CRC-32 of the stream, u32 stream size (used
//              only in the last record), 4 bytes padding: 24 bytes.
//   Stream 0   the response's metadata (a pickle: u32 payload size, i32 flags whose low byte is
//              its version 3 and whose bit 12 marks a truncated body, times, then the headers as
//              a u32-length string "HTTP/1.1 200 OK\0Name: value\0...\0\0"), then the key's
//              SHA-256 when flag 2 is set, then the last end record, which holds stream 0's
//              size. The file ends there.
//   Encodings  the body is stored as sent: gzip, deflate, br and zstd are undone here.
//   Key        "1/0/_dk_<top-frame site> <frame site> <url>"; "_dk_s_" for a frame's own
//              document; "0/" instead of "1/" for requests sent without credentials. A site is
//              "scheme://registrable-domain", without port.
//
// The end records are written when the browser closes an entry, and both streams carry a
// CRC-32: an entry still being written has no valid last record or fails a check sum.

#include "DiskCache.h"

#include "BrowserProfiles.h"
#include "FileCopy.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUrl>
#include <algorithm>
#include <arpa/inet.h>
#include <brotli/decode.h>
#include <cstring>
#include <netinet/in.h>
#include <zlib.h>
#include <zstd.h>

namespace DiskCache {
namespace {

constexpr quint64 kInitialMagic = 0xfcfb6d1ba7725c30ULL;
constexpr quint64 kFinalMagic = 0xf4fa6f45970d41d8ULL;
constexpr quint32 kEntryVersion = 5;
constexpr qsizetype kHeaderSize = 24;
constexpr qsizetype kEofSize = 24;
constexpr quint32 kFlagCrc32 = 1;
constexpr quint32 kFlagKeySha256 = 2;
constexpr qsizetype kSha256Size = 32;
constexpr quint32 kInfoVersionMask = 0xff;
constexpr quint32 kInfoVersion = 3;
constexpr quint32 kInfoTruncated = 1u << 12;
// An entry file a little larger than the largest resource holds more than any resource is
// allowed (headers and records take a few kilobytes; an encoded body is rarely larger than the
// decoded one).
constexpr qint64 kLargestEntry = kLargestResource + (qint64(1) << 20);

template <typename T> T ReadLE(const QByteArray& bytes, qsizetype at)
{
    T value = 0;
    for (qsizetype i = qsizetype(sizeof(T)) - 1; i >= 0; --i)
        value = T(value << 8) | T(quint8(bytes[at + i]));
    return value;
}

struct EndRecord
{
    quint32 flags = 0;
    quint32 crc = 0;
    quint32 streamSize = 0;
};

std::optional<EndRecord> ReadEndRecord(const QByteArray& file, qsizetype at)
{
    if (at < 0 || at + kEofSize > file.size() || ReadLE<quint64>(file, at) != kFinalMagic)
        return std::nullopt;
    return EndRecord{ReadLE<quint32>(file, at + 8), ReadLE<quint32>(file, at + 12),
                     ReadLE<quint32>(file, at + 16)};
}

bool CrcMatches(const QByteArray& file, qsizetype from, qsizetype length, quint32 expected)
{
    const uLong crc = crc32_z(crc32_z(0L, Z_NULL, 0),
                              reinterpret_cast<const Bytef*>(file.constData() + from), length);
    return quint32(crc) == expected;
}

// The headers string of the response metadata: the first length-prefixed string at a 4-byte
// boundary that starts with "HTTP/".
std::optional<QByteArray> FindHeaders(const QByteArray& meta)
{
    for (qsizetype at = 8; at + 4 + 5 <= meta.size(); at += 4) {
        const quint32 length = ReadLE<quint32>(meta, at);
        if (length >= 5 && length <= quint32(meta.size() - at - 4) &&
            std::memcmp(meta.constData() + at + 4, "HTTP/", 5) == 0)
            return meta.mid(at + 4, length);
    }
    return std::nullopt;
}

struct Response
{
    int status = 0;
    QList<std::pair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray header(const char* name) const
    {
        QByteArray joined;
        for (const auto& [key, value] : headers)
            if (key == name)
                joined += (joined.isEmpty() ? QByteArray() : QByteArrayLiteral(", ")) + value;
        return joined;
    }
    bool has(const char* name) const
    {
        for (const auto& header : headers)
            if (header.first == name)
                return true;
        return false;
    }
};

std::optional<Response> ParseHeaders(const QByteArray& raw)
{
    const QList<QByteArray> lines = raw.split('\0');
    const QList<QByteArray> status = lines.value(0).split(' ');
    bool ok = false;
    Response r;
    r.status = status.value(1).toInt(&ok);
    if (!ok)
        return std::nullopt;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            r.headers.append(
                {lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
    }
    return r;
}

// Says why, for the caller that asked, and gives the empty result: `return Fail(why, ...);`.
std::nullopt_t Fail(Miss* why, Miss reason)
{
    if (why)
        *why = reason;
    return std::nullopt;
}

// Appends what a decoder produced, unless the output would grow past `limit` (then sets `over`).
// The buffer never grows past the limit either, which plain appending, doubling its capacity,
// would.
bool AppendWithin(QByteArray& out, const char* data, qsizetype size, qint64 limit, bool& over)
{
    if (out.size() + size > limit) {
        over = true;
        return false;
    }
    if (out.size() + size > out.capacity())
        out.reserve(qsizetype(
            std::min<qint64>(limit, std::max<qint64>(2 * out.capacity(), out.size() + size))));
    out.append(data, size);
    return true;
}

// Runs zlib over the whole input; windowBits selects gzip, zlib or raw deflate.
std::optional<QByteArray> Inflate(const QByteArray& in, int windowBits, qint64 limit, bool& over)
{
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK)
        return std::nullopt;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    z.avail_in = uInt(in.size());
    QByteArray out;
    char chunk[64 * 1024];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof chunk - z.avail_out);
        if (!AppendWithin(out, chunk, produced, limit, over)) {
            rc = Z_MEM_ERROR;
            break;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0)
            break; // the stream ends before its end: cut off
        if (rc == Z_BUF_ERROR)
            rc = Z_OK;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> Unbrotli(const QByteArray& in, qint64 limit, bool& over)
{
    BrotliDecoderState* state = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
    if (!state)
        return std::nullopt;
    size_t availableIn = size_t(in.size());
    const uint8_t* nextIn = reinterpret_cast<const uint8_t*>(in.constData());
    QByteArray out;
    uint8_t chunk[64 * 1024];
    BrotliDecoderResult rc = BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
    while (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) {
        size_t availableOut = sizeof chunk;
        uint8_t* nextOut = chunk;
        rc = BrotliDecoderDecompressStream(state, &availableIn, &nextIn, &availableOut, &nextOut,
                                           nullptr);
        const qsizetype produced = qsizetype(sizeof chunk - availableOut);
        if (!AppendWithin(out, reinterpret_cast<const char*>(chunk), produced, limit, over)) {
            rc = BROTLI_DECODER_RESULT_ERROR;
            break;
        }
    }
    BrotliDecoderDestroyInstance(state);
    if (rc != BROTLI_DECODER_RESULT_SUCCESS)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> Unzstd(const QByteArray& in, qint64 limit, bool& over)
{
    ZSTD_DCtx* context = ZSTD_createDCtx();
    if (!context)
        return std::nullopt;
    ZSTD_inBuffer input{in.constData(), size_t(in.size()), 0};
    QByteArray out;
    char chunk[64 * 1024];
    size_t pending = 1; // 0 once a frame has ended exactly where the input ends
    bool ok = true;
    while (ok && (input.pos < input.size || pending != 0)) {
        ZSTD_outBuffer output{chunk, sizeof chunk, 0};
        const size_t before = input.pos;
        pending = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(pending) ||
            !AppendWithin(out, chunk, qsizetype(output.pos), limit, over)) {
            ok = false;
            break;
        }
        // No input left, no output made and the frame not ended: the stream was cut off.
        if (input.pos == before && output.pos == 0 && input.pos == input.size && pending != 0)
            ok = false;
    }
    ZSTD_freeDCtx(context);
    if (!ok)
        return std::nullopt;
    return out;
}

// The browser's own value of an environment variable, else ours, else the fallback.
QString EnvValue(const BrowserProcess& process, const char* name, const QString& fallback)
{
    QString value = process.environment.value(QString::fromLatin1(name));
    if (value.isEmpty())
        value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

QString Argument(const BrowserProcess& process, const QString& name)
{
    const QString prefix = name + u'=';
    QString value;
    for (const QString& arg : process.arguments)
        if (arg.startsWith(prefix))
            value = arg.mid(prefix.size()); // the browser takes the last one given
    return value;
}

// A folder the browser was given as a switch, made absolute against its working folder.
QString FolderArgument(const BrowserProcess& process, const QString& name)
{
    const QString path = Argument(process, name);
    if (path.isEmpty())
        return path;
    const QString base = process.workingDir.isEmpty() ? QDir::currentPath() : process.workingDir;
    return QDir::cleanPath(QDir(base).absoluteFilePath(
        path.startsWith(QLatin1String("~/")) ? QDir::homePath() + path.mid(1) : path));
}

int ActivePortOf(const QString& userData)
{
    const std::optional<Cdp::ActivePort> port = BrowserProfiles::activePort(userData);
    return port ? port->port : -1;
}

} // namespace

QString EntryFileName(const QByteArray& key)
{
    const QByteArray sha = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    return QString::number(ReadLE<quint64>(sha, 0), 16).rightJustified(16, u'0') +
           QStringLiteral("_0");
}

QStringList SiteCandidates(const QString& url)
{
    const QUrl u(url);
    const QString scheme = u.scheme().toLower();
    const QString host = u.host(QUrl::FullyEncoded).toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || host.isEmpty())
        return {};
    const QString origin = scheme + QStringLiteral("://");
    // An address is its own site, an IPv6 one in its brackets (the host comes without them).
    const QByteArray text = host.toLatin1();
    if (in_addr v4{}; inet_pton(AF_INET, text.constData(), &v4) == 1)
        return {origin + host};
    if (in6_addr v6{}; inet_pton(AF_INET6, text.constData(), &v6) == 1)
        return {origin + u'[' + host + u']'};
    const QStringList labels = host.split(u'.', Qt::SkipEmptyParts);
    if (labels.size() < 2)
        return {origin + host};
    // Most sites are the last two labels; longer public suffixes ("co.uk") need more.
    QStringList sites;
    for (qsizetype n = 2; n <= labels.size(); ++n)
        sites << origin + labels.mid(labels.size() - n).join(u'.');
    return sites;
}

QList<QByteArray> CandidateKeys(const QString& topSite, const QString& frameSite,
                                const QString& url)
{
    const qsizetype hash = url.indexOf(u'#');
    const QByteArray tail = (topSite + u' ' + frameSite + u' ' + url.left(hash)).toUtf8();
    return {QByteArrayLiteral("1/0/_dk_") + tail, QByteArrayLiteral("0/0/_dk_") + tail};
}

std::optional<QByteArray> ParseEntry(QByteArray file, const QByteArray& key, Miss* why)
{
    if (why)
        *why = Miss::None;
    const qsizetype size = file.size();
    if (size < kHeaderSize || ReadLE<quint64>(file, 0) != kInitialMagic ||
        ReadLE<quint32>(file, 8) != kEntryVersion)
        return Fail(why, Miss::Malformed);
    const quint32 keyLength = ReadLE<quint32>(file, 12);
    if (keyLength != quint32(key.size()) || quint64(kHeaderSize) + keyLength > quint64(size) ||
        std::memcmp(file.constData() + kHeaderSize, key.constData(), keyLength) != 0)
        return Fail(why, keyLength <= quint64(size) ? Miss::NotFound : Miss::Malformed);

    const std::optional<EndRecord> last = ReadEndRecord(file, size - kEofSize);
    if (!last)
        return Fail(why, Miss::Malformed);
    const qsizetype shaSize = (last->flags & kFlagKeySha256) ? kSha256Size : 0;
    const qsizetype bodyStart = kHeaderSize + keyLength;
    const qint64 metaStart = qint64(size) - kEofSize - shaSize - last->streamSize;
    const qint64 bodyEnd = metaStart - kEofSize;
    if (bodyEnd < bodyStart)
        return Fail(why, Miss::Malformed);
    if (shaSize && file.mid(size - kEofSize - shaSize, shaSize) !=
                       QCryptographicHash::hash(key, QCryptographicHash::Sha256))
        return Fail(why, Miss::Malformed);
    const std::optional<EndRecord> bodyEnd1 = ReadEndRecord(file, bodyEnd);
    // A body without its check sum was written out of order (ranges of a large medium): it
    // cannot be told apart from one still being written.
    if (!bodyEnd1 || !(bodyEnd1->flags & kFlagCrc32) ||
        !CrcMatches(file, bodyStart, bodyEnd - bodyStart, bodyEnd1->crc) ||
        ((last->flags & kFlagCrc32) && !CrcMatches(file, metaStart, last->streamSize, last->crc)))
        return Fail(why, Miss::Malformed);

    const QByteArray meta = file.mid(metaStart, last->streamSize);
    if (meta.size() < 8)
        return Fail(why, Miss::Malformed);
    const quint32 infoFlags = ReadLE<quint32>(meta, 4);
    const std::optional<QByteArray> rawHeaders = FindHeaders(meta);
    const std::optional<Response> response = rawHeaders ? ParseHeaders(*rawHeaders) : std::nullopt;
    if ((infoFlags & kInfoVersionMask) != kInfoVersion || !response)
        return Fail(why, Miss::Malformed);
    const qsizetype bodySize = qsizetype(bodyEnd - bodyStart);
    bool lengthOk = true;
    if (response->has("content-length")) {
        const qlonglong declared = response->header("content-length").toLongLong(&lengthOk);
        lengthOk = lengthOk && declared == bodySize;
    }
    if (response->status != 200 || (infoFlags & kInfoTruncated) || !lengthOk ||
        response->has("content-range"))
        return Fail(why, Miss::NotComplete);
    const QByteArray encoding = response->header("content-encoding");
    if (encoding.trimmed().isEmpty() && bodySize > kLargestResource)
        return Fail(why, Miss::TooLarge);
    // The body is the entry's own bytes cut at both ends, not a copy of them.
    file.truncate(bodyEnd);
    file.remove(0, bodyStart);
    if (encoding.trimmed().isEmpty())
        return file;
    bool over = false;
    if (std::optional<QByteArray> decoded = DecodeContent(file, encoding, kLargestResource, &over))
        return decoded;
    return Fail(why, over ? Miss::TooLarge : Miss::NotDecodable);
}

std::optional<QByteArray> DecodeContent(const QByteArray& body, const QByteArray& encoding,
                                        qint64 limit, bool* overLimit)
{
    bool over = false;
    const auto report = qScopeGuard([&] {
        if (overLimit)
            *overLimit = over;
    });
    QList<QByteArray> codings = encoding.toLower().split(',');
    std::optional<QByteArray> data = body;
    // Applied in the order listed, so undone from the last.
    for (qsizetype i = codings.size() - 1; i >= 0 && data; --i) {
        const QByteArray coding = codings[i].trimmed();
        if (coding.isEmpty() || coding == "identity")
            continue;
        if (coding == "gzip" || coding == "x-gzip") {
            data = Inflate(*data, 16 + MAX_WBITS, limit, over);
        } else if (coding == "deflate") {
            // Servers send both the zlib format and bare deflate under this name.
            std::optional<QByteArray> zlibbed = Inflate(*data, MAX_WBITS, limit, over);
            data = zlibbed || over ? zlibbed : Inflate(*data, -MAX_WBITS, limit, over);
        } else if (coding == "br") {
            data = Unbrotli(*data, limit, over);
        } else if (coding == "zstd") {
            data = Unzstd(*data, limit, over);
        } else {
            return std::nullopt;
        }
    }
    if (data && data->size() > limit) {
        over = true;
        return std::nullopt;
    }
    return data;
}

std::optional<BrowserProcess> ReadProcess(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    const QString dir = QStringLiteral("/proc/%1/").arg(pid);
    QFile cmdline(dir + QStringLiteral("cmdline"));
    if (!cmdline.open(QIODevice::ReadOnly))
        return std::nullopt;
    BrowserProcess process;
    for (const QByteArray& arg : cmdline.readAll().split('\0'))
        if (!arg.isEmpty())
            process.arguments << QString::fromLocal8Bit(arg);
    QFile environ(dir + QStringLiteral("environ"));
    if (environ.open(QIODevice::ReadOnly)) {
        for (const QByteArray& entry : environ.readAll().split('\0')) {
            const qsizetype eq = entry.indexOf('=');
            if (eq > 0)
                process.environment.insert(QString::fromLocal8Bit(entry.left(eq)),
                                           QString::fromLocal8Bit(entry.mid(eq + 1)));
        }
    }
    process.workingDir = QFileInfo(dir + QStringLiteral("cwd")).symLinkTarget();
    return process;
}

bool ListensOn(const BrowserProcess& process, int port)
{
    bool hasSwitch = false;
    for (const QString& arg : process.arguments)
        hasSwitch = hasSwitch || arg.startsWith(QLatin1String("--remote-debugging-"));
    const QString given = Argument(process, QStringLiteral("--remote-debugging-port"));
    if (!hasSwitch)
        return true;
    if (given.isEmpty())
        return false; // a pipe, not a port
    if (given.toInt() == port)
        return true;
    // Port 0: the browser chose one and wrote it into its profile.
    const QString userData = FolderArgument(process, QStringLiteral("--user-data-dir"));
    return given.toInt() == 0 && !userData.isEmpty() && ActivePortOf(userData) == port;
}

QStringList CacheFolders(const BrowserProcess& process, const QString& userDataHint, int port)
{
    const QString home = EnvValue(process, "HOME", QDir::homePath());
    const QString configHome =
        QDir::cleanPath(EnvValue(process, "XDG_CONFIG_HOME", home + QStringLiteral("/.config")));
    const QString cacheHome =
        QDir::cleanPath(EnvValue(process, "XDG_CACHE_HOME", home + QStringLiteral("/.cache")));

    QString userData = FolderArgument(process, QStringLiteral("--user-data-dir"));
    if (userData.isEmpty())
        userData = userDataHint;
    if (userData.isEmpty()) {
        for (const QString& name : BrowserProfiles::folderNames()) {
            const QString candidate = configHome + u'/' + name;
            if (ActivePortOf(candidate) == port) {
                userData = candidate;
                break;
            }
        }
    }
    if (userData.isEmpty())
        userData = configHome + QStringLiteral("/chromium");
    userData = QDir::cleanPath(userData);

    // A profile below the configuration folder keeps its cache below the cache folder.
    QStringList bases;
    const QString diskCacheDir = FolderArgument(process, QStringLiteral("--disk-cache-dir"));
    if (!diskCacheDir.isEmpty())
        bases << diskCacheDir;
    if (userData.startsWith(configHome + u'/'))
        bases << cacheHome + userData.mid(configHome.size());
    bases << userData;

    const QString chosen = Argument(process, QStringLiteral("--profile-directory"));
    QStringList folders;
    for (const QString& base : std::as_const(bases)) {
        QStringList profiles = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        // The profile the browser was told to use, then the default one, then any other.
        for (const QString& first : {QStringLiteral("Default"), chosen})
            if (!first.isEmpty() && profiles.removeAll(first))
                profiles.prepend(first);
        profiles.prepend(QString()); // --disk-cache-dir may hold the folders directly
        for (const QString& profile : std::as_const(profiles)) {
            const QString folder =
                QDir::cleanPath(base + u'/' + profile) + QStringLiteral("/Cache/Cache_Data");
            if (QFileInfo(folder).isDir() && !folders.contains(folder))
                folders << folder;
        }
    }
    return folders;
}

std::optional<QByteArray> Reader::readKey(const QByteArray& key, Miss* why)
{
    const QString name = EntryFileName(key);
    for (const QString& folder : std::as_const(m_folders)) {
        // One read: a file the browser rewrites meanwhile fails its check sums.
        bool tooLarge = false;
        std::optional<QByteArray> bytes =
            ReadRegularFile(folder + u'/' + name, kLargestEntry, nullptr, &tooLarge);
        if (!bytes && !tooLarge)
            continue;
        Miss reason = Miss::TooLarge;
        std::optional<QByteArray> body;
        if (bytes)
            body = ParseEntry(std::move(*bytes), key, &reason);
        // Another key under the same name says nothing about this one.
        if (why && reason != Miss::NotFound)
            *why = reason;
        if (body)
            return body;
    }
    return std::nullopt;
}

std::optional<QByteArray> Reader::read(const QString& topUrl, const QString& frameUrl,
                                       const QString& url, Miss* why)
{
    if (why)
        *why = Miss::NotFound;
    if (m_folders.isEmpty())
        return std::nullopt;
    // Every resource of a document asks with the same two addresses.
    if (topUrl != m_sitesOf.first || frameUrl != m_sitesOf.second) {
        m_sitesOf = {topUrl, frameUrl};
        m_topSites = SiteCandidates(topUrl);
        m_frameSites = SiteCandidates(frameUrl);
    }
    const QStringList& tops = m_topSites;
    const QStringList& frames = m_frameSites;
    QList<std::pair<QString, QString>> pairs;
    if (tops.contains(m_lastTop) && frames.contains(m_lastFrame))
        pairs.append({m_lastTop, m_lastFrame});
    for (const QString& top : tops)
        for (const QString& frame : frames)
            if (top != m_lastTop || frame != m_lastFrame)
                pairs.append({top, frame});
    for (const auto& [top, frame] : std::as_const(pairs)) {
        for (const QByteArray& key : CandidateKeys(top, frame, url)) {
            if (std::optional<QByteArray> body = readKey(key, why)) {
                m_lastTop = top;
                m_lastFrame = frame;
                return body;
            }
        }
    }
    return std::nullopt;
}

} // namespace DiskCache
