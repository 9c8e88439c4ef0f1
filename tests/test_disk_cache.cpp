#include "ByteRoutes.h"
#include "DiskCache.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>
#include <zlib.h>
#include <zstd.h>

// Readable failures: bodies and paths instead of byte dumps, long bodies cut short.
void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"' << bytes.left(120).toPercentEncoding(" /:.,;-_=").constData()
        << (bytes.size() > 120 ? "...\"" : "\"") << " (" << bytes.size() << " bytes)";
}
void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << qPrintable(text) << '"';
}

namespace DiskCache {
void PrintTo(Miss why, std::ostream* os)
{
    static const char* const names[] = {"None", "NotFound", "Malformed", "NotComplete",
                                        "NotDecodable"};
    *os << names[int(why)];
}
} // namespace DiskCache

namespace {

using DiskCache::Miss;

template <typename T> void Put(QByteArray& out, T value)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out.append(char(quint64(value) >> (8 * i)));
}

quint32 Crc(const QByteArray& bytes)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())));
}

QByteArray EndRecord(quint32 flags, quint32 crc, quint32 streamSize)
{
    QByteArray record;
    Put<quint64>(record, 0xf4fa6f45970d41d8ULL);
    for (const quint32 field : {flags, crc, streamSize, 0u})
        Put(record, field);
    return record;
}

// One cache entry file as the browser writes it once the entry is closed.
struct Entry
{
    QByteArray key = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8731/a.png";
    QByteArray body = "the body of the response, as it came over the wire";
    int status = 200;
    QList<QByteArray> headers; // extra "Name: value" lines
    bool truncated = false;
    bool bodyCrc = true;
    bool keySha = true;
    quint32 version = 5;

    QByteArray bytes() const
    {
        QByteArray file;
        Put<quint64>(file, 0xfcfb6d1ba7725c30ULL);
        Put<quint32>(file, version);
        Put<quint32>(file, quint32(key.size()));
        Put<quint32>(file, 0x5eed1e55); // the key's hash, which the reader does not need
        Put<quint32>(file, 0);
        file += key;
        file += body;
        file += EndRecord(bodyCrc ? 1 : 0, Crc(body), quint32(body.size()));

        QByteArray raw = "HTTP/1.1 " + QByteArray::number(status) + " OK";
        raw.append('\0').append("Content-Type: image/png").append('\0');
        for (const QByteArray& header : headers)
            raw.append(header).append('\0');
        raw.append('\0');
        QByteArray payload;
        Put<quint32>(payload, 0x80040003u | (truncated ? 1u << 12 : 0u));
        Put<quint32>(payload, 0);
        for (quint64 time : {13350000000000000ULL, 13350000000100000ULL, 13350000000200000ULL})
            Put<quint64>(payload, time);
        Put<quint32>(payload, quint32(raw.size()));
        payload += raw;
        while (payload.size() % 4)
            payload.append('\0');
        QByteArray meta;
        Put<quint32>(meta, quint32(payload.size()));
        meta += payload;

        file += meta;
        if (keySha)
            file += QCryptographicHash::hash(key, QCryptographicHash::Sha256);
        file += EndRecord(1 | (keySha ? 2 : 0), Crc(meta), quint32(meta.size()));
        return file;
    }
};

// windowBits as zlib takes them: 16 + 15 gzip, 15 the zlib format, -15 raw deflate.
QByteArray Deflate(const QByteArray& in, int windowBits)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(int(deflateBound(&z, uLong(in.size()))) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}
QByteArray Gzip(const QByteArray& in)
{
    return Deflate(in, 16 + 15);
}

QByteArray Brotli(const QByteArray& in)
{
    size_t size = BrotliEncoderMaxCompressedSize(size_t(in.size())) + 16;
    QByteArray out(qsizetype(size), '\0');
    EXPECT_TRUE(BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW,
                                      BROTLI_MODE_GENERIC, size_t(in.size()),
                                      reinterpret_cast<const uint8_t*>(in.constData()), &size,
                                      reinterpret_cast<uint8_t*>(out.data())));
    out.resize(qsizetype(size));
    return out;
}

QByteArray Zstd(const QByteArray& in)
{
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(in.size()))), '\0');
    const size_t size =
        ZSTD_compress(out.data(), size_t(out.size()), in.constData(), size_t(in.size()), 3);
    EXPECT_FALSE(ZSTD_isError(size));
    out.resize(qsizetype(size));
    return out;
}

std::optional<QByteArray> Parse(const Entry& entry, Miss* why)
{
    return DiskCache::ParseEntry(entry.bytes(), entry.key, why);
}

QByteArray Flipped(QByteArray bytes, qsizetype at)
{
    bytes[at] = char(bytes[at] ^ 0x20);
    return bytes;
}

} // namespace

TEST(EntryFileName, MatchesNamesTheBrowserWrote)
{
    EXPECT_EQ(DiskCache::EntryFileName(
                  "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8731/index.html"),
              QStringLiteral("0ed5a233c8cc6e7d_0"));
    EXPECT_EQ(DiskCache::EntryFileName(
                  "1/0/_dk_http://127.0.0.1 http://localhost http://localhost:8731/a.png"),
              QStringLiteral("a4024db86d3d36c0_0"));
}

TEST(SiteCandidates, HostAndParentDomainsWithoutPortOnlyForHttp)
{
    using L = QStringList;
    EXPECT_EQ(DiskCache::SiteCandidates("http://127.0.0.1:8731/index.html"), L{"http://127.0.0.1"});
    EXPECT_EQ(DiskCache::SiteCandidates("http://localhost:8731/a"), L{"http://localhost"});
    EXPECT_EQ(DiskCache::SiteCandidates("https://a.b.example.co.uk/x?y#z"),
              (L{"https://co.uk", "https://example.co.uk", "https://b.example.co.uk",
                 "https://a.b.example.co.uk"}));
    EXPECT_EQ(DiskCache::SiteCandidates("HTTPS://WWW.Example.COM:443/"),
              (L{"https://example.com", "https://www.example.com"}));
    EXPECT_EQ(DiskCache::SiteCandidates("http://[::1]:8080/x"), L{"http://[::1]"});
    EXPECT_EQ(DiskCache::SiteCandidates("http://[2001:DB8::1]/"), L{"http://[2001:db8::1]"});
    for (const char* none : {"ftp://example.com/a", "file:///tmp/a.html", "data:text/plain,hi",
                             "about:blank", "", "http://"})
        EXPECT_TRUE(DiskCache::SiteCandidates(none).isEmpty()) << none;
}

TEST(CandidateKeys, WithAndWithoutCredentialsAndNoFragment)
{
    EXPECT_EQ(DiskCache::CandidateKeys("http://example.com", "http://127.0.0.1",
                                       "http://img.example.com/a.png?v=1#top"),
              (QList<QByteArray>{
                  "1/0/_dk_http://example.com http://127.0.0.1 http://img.example.com/a.png?v=1",
                  "0/0/_dk_http://example.com http://127.0.0.1 http://img.example.com/a.png?v=1"}));
}

TEST(ParseEntry, CompleteEntryGivesItsBodyForItsKeyOnly)
{
    for (const bool keySha : {true, false}) {
        SCOPED_TRACE(keySha ? "with key hash" : "without key hash");
        Entry entry;
        entry.keySha = keySha;
        entry.headers = {"Content-Length: " + QByteArray::number(entry.body.size())};
        Miss why = Miss::NotFound;
        EXPECT_EQ(Parse(entry, &why), entry.body);
        EXPECT_EQ(why, Miss::None);

        // Same length, one letter off; and a shorter key.
        QByteArray other = entry.key;
        other[other.size() - 5] = 'q';
        EXPECT_EQ(DiskCache::ParseEntry(entry.bytes(), other, &why), std::nullopt);
        EXPECT_EQ(why, Miss::NotFound);
        EXPECT_EQ(DiskCache::ParseEntry(entry.bytes(), entry.key.left(20), &why), std::nullopt);
        EXPECT_EQ(why, Miss::NotFound);

        entry.body.clear();
        entry.headers = {"Content-Length: 0"};
        EXPECT_EQ(Parse(entry, &why), QByteArray());
        EXPECT_EQ(why, Miss::None);
    }
}

TEST(ParseEntry, EveryCutOffPrefixIsRejected)
{
    for (const bool keySha : {true, false}) {
        Entry entry;
        entry.keySha = keySha;
        const QByteArray file = entry.bytes();
        for (qsizetype length = 0; length < file.size(); ++length) {
            // A copy of exactly that size, so that a read past it is a read past the buffer.
            const QByteArray cut(file.constData(), length);
            Miss why = Miss::None;
            EXPECT_EQ(DiskCache::ParseEntry(cut, entry.key, &why), std::nullopt) << length;
            EXPECT_NE(why, Miss::None) << length;
        }
    }
}

TEST(ParseEntry, DamagedOrUnknownEntriesAreMalformed)
{
    Entry entry;
    const QByteArray file = entry.bytes();
    const qsizetype bodyAt = 24 + entry.key.size();
    const qsizetype metaAt = file.indexOf("Content-Type");
    const qsizetype shaAt = file.size() - 24 - 32;
    for (const qsizetype at : {qsizetype(0), bodyAt, bodyAt + 7, metaAt + 3, shaAt + 1}) {
        Miss why = Miss::None;
        EXPECT_EQ(DiskCache::ParseEntry(Flipped(file, at), entry.key, &why), std::nullopt) << at;
        EXPECT_EQ(why, Miss::Malformed) << at;
    }

    // A last record whose stream size reaches back into the key, where an end record waits.
    Entry hostile;
    hostile.key = EndRecord(1, 0, 0);
    QByteArray reaching = hostile.bytes();
    const quint32 back = quint32(reaching.size() - 24 - 32 - 24 - 24);
    for (int i = 0; i < 4; ++i)
        reaching[reaching.size() - 8 + i] = char(back >> (8 * i));
    Miss why = Miss::None;
    EXPECT_EQ(DiskCache::ParseEntry(reaching, hostile.key, &why), std::nullopt);
    EXPECT_EQ(why, Miss::Malformed);

    Entry newer;
    newer.version = 6;
    Entry outOfOrder; // a body written in ranges has no check sum
    outOfOrder.bodyCrc = false;
    for (const Entry& e : {newer, outOfOrder}) {
        EXPECT_EQ(Parse(e, &why), std::nullopt);
        EXPECT_EQ(why, Miss::Malformed);
    }
}

TEST(ParseEntry, OnlyWholeSuccessfulResponsesAreUsed)
{
    std::vector<Entry> cases(6);
    cases[0].status = 206;
    cases[0].headers = {"Content-Range: bytes 0-49/1000"};
    cases[1].status = 404;
    cases[2].truncated = true;
    cases[3].headers = {"Content-Length: " + QByteArray::number(cases[3].body.size() + 1)};
    cases[4].headers = {"Content-Length: lots"};
    cases[5].headers = {"Content-Range: bytes 0-49/50"};
    for (size_t i = 0; i < cases.size(); ++i) {
        Miss why = Miss::None;
        EXPECT_EQ(Parse(cases[i], &why), std::nullopt) << i;
        EXPECT_EQ(why, Miss::NotComplete) << i;
    }
}

TEST(ParseEntry, ContentEncodingIsUndone)
{
    const QByteArray page = QByteArray("<p>compressed page</p>").repeated(50);
    Entry gzipped;
    gzipped.body = Gzip(page);
    gzipped.headers = {"CONTENT-ENCODING: GZip",
                       "Content-Length: " + QByteArray::number(gzipped.body.size())};
    Miss why = Miss::NotFound;
    EXPECT_EQ(Parse(gzipped, &why), page);
    EXPECT_EQ(why, Miss::None);

    Entry unknown;
    unknown.headers = {"Content-Encoding: dcz"};
    Entry damaged = gzipped;
    damaged.body = Flipped(damaged.body, damaged.body.size() / 2); // check sums still fit
    for (const Entry& e : {unknown, damaged}) {
        EXPECT_EQ(Parse(e, &why), std::nullopt);
        EXPECT_EQ(why, Miss::NotDecodable);
    }
}

TEST(DecodeContent, UndoesEachKnownEncodingAndListsFromTheLast)
{
    const QByteArray text = QByteArray("Some text that compresses well. ").repeated(100);
    EXPECT_EQ(DiskCache::DecodeContent(Gzip(text), "gzip"), text);
    EXPECT_EQ(DiskCache::DecodeContent(Gzip(text), " X-Gzip "), text);
    EXPECT_EQ(DiskCache::DecodeContent(Deflate(text, 15), "deflate"), text);
    EXPECT_EQ(DiskCache::DecodeContent(Deflate(text, -15), "deflate"), text);
    EXPECT_EQ(DiskCache::DecodeContent(Brotli(text), "br"), text);
    EXPECT_EQ(DiskCache::DecodeContent(Brotli(Gzip(text)), "gzip, br"), text);
    EXPECT_EQ(DiskCache::DecodeContent(Gzip(text), "identity, gzip"), text);
    EXPECT_EQ(DiskCache::DecodeContent(text, "identity"), text);
    EXPECT_EQ(DiskCache::DecodeContent(text, ""), text);
    EXPECT_EQ(DiskCache::DecodeContent(Zstd(text), "zstd"), text);
    EXPECT_EQ(DiskCache::DecodeContent(Zstd(text) + Zstd(text), "zstd"), text + text);
    EXPECT_EQ(DiskCache::DecodeContent(Zstd(Brotli(text)), "br, zstd"), text);
    EXPECT_EQ(DiskCache::DecodeContent(Gzip(text), "compress"), std::nullopt);
    EXPECT_EQ(DiskCache::DecodeContent(Brotli(Gzip(text)), "gzip, dcb, br"), std::nullopt);
    EXPECT_EQ(DiskCache::DecodeContent(Gzip(text), "br, gzip"), std::nullopt);
}

TEST(DecodeContent, CutOffDamagedOrTooLargeStreamsGiveNothing)
{
    const QByteArray text = QByteArray("Some text that compresses well. ").repeated(100);
    const QByteArray gz = Gzip(text);
    const QByteArray br = Brotli(text);
    for (const qsizetype keep : {qsizetype(0), qsizetype(10), gz.size() / 2, gz.size() - 1})
        EXPECT_EQ(DiskCache::DecodeContent(gz.left(keep), "gzip"), std::nullopt) << keep;
    EXPECT_EQ(DiskCache::DecodeContent(Deflate(text, 15).chopped(6), "deflate"), std::nullopt);
    EXPECT_EQ(DiskCache::DecodeContent(br.left(br.size() / 2), "br"), std::nullopt);
    const QByteArray zst = Zstd(text);
    for (const qsizetype keep : {qsizetype(0), qsizetype(4), zst.size() / 2, zst.size() - 1})
        EXPECT_EQ(DiskCache::DecodeContent(zst.left(keep), "zstd"), std::nullopt) << keep;
    EXPECT_EQ(DiskCache::DecodeContent("not a stream at all", "zstd"), std::nullopt);
    EXPECT_EQ(DiskCache::DecodeContent(Flipped(gz, gz.size() / 2), "gzip"), std::nullopt);
    EXPECT_EQ(DiskCache::DecodeContent("not a stream at all", "gzip"), std::nullopt);
    EXPECT_EQ(DiskCache::DecodeContent("not a stream at all", "deflate"), std::nullopt);

    // A bomb: a megabyte of one letter in a few kilobytes.
    const QByteArray big(1 << 20, 'a');
    for (const auto& [encoded, coding] :
         {std::pair{Gzip(big), "gzip"}, std::pair{Deflate(big, -15), "deflate"},
          std::pair{Brotli(big), "br"}, std::pair{Zstd(big), "zstd"}}) {
        SCOPED_TRACE(coding);
        EXPECT_LT(encoded.size(), 8192);
        EXPECT_EQ(DiskCache::DecodeContent(encoded, coding, 4096), std::nullopt);
        EXPECT_EQ(DiskCache::DecodeContent(encoded, coding, big.size() - 1), std::nullopt);
        EXPECT_EQ(DiskCache::DecodeContent(encoded, coding, big.size()), big);
    }
}

// An identity (or empty) encoding decodes nothing, yet its output is held to the limit too.
TEST(DecodeContent, LimitHoldsForUnencodedBodiesToo)
{
    const QByteArray body(100, 'x');
    EXPECT_EQ(DiskCache::DecodeContent(body, "identity", 10), std::nullopt);
    EXPECT_EQ(DiskCache::DecodeContent(body, "", 10), std::nullopt);
}

TEST(ReadProcess, ArgumentsEnvironmentAndFolderOfARunningProcess)
{
    const auto self = DiskCache::ReadProcess(QCoreApplication::applicationPid());
    ASSERT_TRUE(self);
    EXPECT_TRUE(self->arguments.value(0).endsWith("test_disk_cache"));
    EXPECT_EQ(self->environment.value("PATH"), qEnvironmentVariable("PATH"));
    EXPECT_EQ(self->workingDir, QDir::currentPath());
    EXPECT_FALSE(DiskCache::ReadProcess(0));
}

namespace {

// A browser whose home, configuration and cache folders all lie in a temporary folder.
struct FakeHome
{
    QTemporaryDir temp;
    QString root = temp.path();
    QString config = root + "/config";
    QString cache = root + "/cache";
    DiskCache::BrowserProcess process{
        {"/usr/lib/chromium/chromium"},
        {{"HOME", root}, {"XDG_CONFIG_HOME", config}, {"XDG_CACHE_HOME", cache}},
        root};

    // Makes <base>/<profile>/Cache/Cache_Data and returns it.
    QString cacheIn(const QString& base, const QString& profile = "Default")
    {
        const QString folder = QDir::cleanPath(base + '/' + profile) + "/Cache/Cache_Data";
        EXPECT_TRUE(QDir().mkpath(folder));
        return folder;
    }
};

TEST(DiskCacheRoute, HandsOverOnlyEntriesThePageAgreesWithAndOnlyForAContextOnDisk)
{
    QTemporaryDir temp;
    const QString page = "http://127.0.0.1:8731/index.html";
    for (const char* name : {"a.png", "b.png", "bomb.png"}) {
        Entry e;
        e.key =
            "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8731/" + QByteArray(name);
        e.body = "body of " + QByteArray(name);
        if (e.key.endsWith("bomb.png")) {
            // A few kilobytes on the wire that unpack to more than any resource may hold.
            e.body = Zstd(QByteArray(kLargestResource + 1, '\0'));
            e.headers = {"Content-Encoding: zstd"};
        }
        writeFile(temp.path() + '/' + DiskCache::EntryFileName(e.key), e.bytes());
    }
    DiskCache::Reader reader;
    reader.setFolders({temp.path()});
    FetchStats stats;
    DiskCacheRoute route(reader, stats);
    struct : ResourceSink
    {
        void receive(const QString& url, const QByteArray& bytes) override { got[url] = bytes; }
        void refuse(const QString& url, const Message&) override { refused << url; }
        QHash<QString, QByteArray> got;
        QStringList refused;
    } sink;
    ChromiumDocument doc;
    doc.url = doc.topUrl = page;
    // The page holds another version of b.png than the disk: the browser is asked for it.
    doc.resourceSizes = {{"http://127.0.0.1:8731/b.png", 3}};
    const QStringList all{"http://127.0.0.1:8731/a.png", "http://127.0.0.1:8731/b.png",
                          "http://127.0.0.1:8731/bomb.png"};

    QStringList todo = all;
    route.read(doc, todo, sink); // a private window: its cache is not on disk
    EXPECT_EQ(todo, all);
    EXPECT_TRUE(sink.got.isEmpty());

    doc.onDisk = true;
    route.read(doc, todo, sink);
    EXPECT_EQ(todo, QStringList({"http://127.0.0.1:8731/b.png"}));
    EXPECT_EQ(sink.got.value("http://127.0.0.1:8731/a.png"), "body of a.png");
    EXPECT_EQ(stats.diskReads, 1);
    // The bomb is answered for, so that no later route asks the browser for its gigabytes.
    EXPECT_EQ(sink.refused, QStringList({"http://127.0.0.1:8731/bomb.png"}));
    EXPECT_FALSE(sink.got.contains("http://127.0.0.1:8731/bomb.png"));
}

} // namespace

TEST(CacheFolders, FollowTheCommandLine)
{
    FakeHome h;
    // A profile below the configuration folder keeps its cache below the cache folder.
    const QString moved = h.cacheIn(h.cache + "/nimbril/profile");
    const QString kept = h.cacheIn(h.config + "/nimbril/profile");
    h.process.arguments << "--user-data-dir=" + h.config + "/nimbril/profile/";
    EXPECT_EQ(DiskCache::CacheFolders(h.process, QString(), 9222), (QStringList{moved, kept}));

    // Elsewhere, relative to the browser's working folder; the last argument given counts.
    const QString own = h.cacheIn(h.root + "/profiles/p");
    h.process.arguments << "--user-data-dir=profiles/p";
    EXPECT_EQ(DiskCache::CacheFolders(h.process, h.root + "/hint", 9222), QStringList{own});

    // --disk-cache-dir comes first, holding the folders directly or per profile.
    const QString direct = h.cacheIn(h.root + "/dc", QString());
    const QString perProfile = h.cacheIn(h.root + "/dc");
    h.process.arguments << "--disk-cache-dir=" + h.root + "/dc";
    EXPECT_EQ(DiskCache::CacheFolders(h.process, QString(), 9222),
              (QStringList{direct, perProfile, own}));
}

TEST(CacheFolders, ChosenProfileFirstAndOnlyFoldersThatExist)
{
    FakeHome h;
    const QString data = h.root + "/data";
    const QString second = h.cacheIn(data, "Profile 2");
    const QString first = h.cacheIn(data, "Profile 1");
    const QString standard = h.cacheIn(data);
    EXPECT_TRUE(QDir().mkpath(data + "/Empty/Cache")); // no Cache_Data
    h.process.arguments << "--user-data-dir=" + data << "--profile-directory=Profile 1";
    EXPECT_EQ(DiskCache::CacheFolders(h.process, QString(), 9222),
              (QStringList{first, standard, second}));
}

TEST(CacheFolders, WithoutArgumentsTheHintOrTheDefaultProfileOnThatPort)
{
    FakeHome h;
    writeFile(h.config + "/chromium/DevToolsActivePort", "9333\n/devtools/browser/one\n");
    writeFile(h.config + "/google-chrome/DevToolsActivePort", "9444\n/devtools/browser/two\n");
    const QString chromium = h.cacheIn(h.cache + "/chromium");
    const QString chrome = h.cacheIn(h.cache + "/google-chrome");
    EXPECT_EQ(DiskCache::CacheFolders(h.process, QString(), 9444), QStringList{chrome});
    EXPECT_EQ(DiskCache::CacheFolders(h.process, QString(), 9333), QStringList{chromium});

    const QString hinted = h.cacheIn(h.root + "/hinted");
    EXPECT_EQ(DiskCache::CacheFolders(h.process, h.root + "/hinted", 9444), QStringList{hinted});
    EXPECT_TRUE(DiskCache::CacheFolders(h.process, h.root + "/nowhere", 9444).isEmpty());
}

TEST(ListensOn, ProcessWhoseSwitchesNameAnotherPortIsNotTheBrowser)
{
    FakeHome h;
    EXPECT_TRUE(DiskCache::ListensOn(h.process, 9222)); // switched on without a switch
    DiskCache::BrowserProcess p = h.process;
    p.arguments << "--remote-debugging-port=9222";
    EXPECT_TRUE(DiskCache::ListensOn(p, 9222));
    EXPECT_FALSE(DiskCache::ListensOn(p, 9223));
    p.arguments = QStringList{"chromium", "--remote-debugging-pipe"};
    EXPECT_FALSE(DiskCache::ListensOn(p, 9222));
    // Port 0: the port the browser chose is in its profile.
    writeFile(h.root + "/data/DevToolsActivePort", "40123\n/devtools/browser/x\n");
    p.arguments = QStringList{"chromium", "--remote-debugging-port=0", "--user-data-dir=data"};
    EXPECT_TRUE(DiskCache::ListensOn(p, 40123));
    EXPECT_FALSE(DiskCache::ListensOn(p, 40124));
}

TEST(Reader, FindsEntriesByPageFrameAndUrlAndTellsWhyNot)
{
    QTemporaryDir temp;
    const QString first = temp.path() + "/one";
    const QString second = temp.path() + "/two";
    const auto put = [](const QString& folder, const Entry& e) {
        writeFile(folder + '/' + DiskCache::EntryFileName(e.key), e.bytes());
    };
    Entry ip; // in the second folder only
    ip.key = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8731/a.png";
    ip.body = "ip body";
    put(second, ip);
    Entry sub; // sent without credentials, below a registrable domain
    sub.key = "0/0/_dk_http://example.com http://example.com http://img.example.com/p.png";
    sub.body = "sub body";
    put(first, sub);
    Entry framed; // an IP frame in a named page; a damaged copy in the first folder
    framed.key = "1/0/_dk_http://example.com http://127.0.0.1 http://127.0.0.1:8731/f.css";
    framed.body = "framed body";
    put(second, framed);
    put(first, Entry{framed.key, "damaged", 200, {}, false, false});
    put(first, Entry{"1/0/_dk_http://example.com http://example.com http://www.example.com/b.js",
                     "body",
                     200,
                     {},
                     false,
                     false});

    DiskCache::Reader reader;
    reader.setFolders({first, second});
    Miss why = Miss::None;
    const QString ipPage = "http://127.0.0.1:8731/index.html";
    EXPECT_EQ(reader.read(ipPage, ipPage, "http://127.0.0.1:8731/a.png#x", &why), "ip body");
    EXPECT_EQ(why, Miss::None);
    const QString page = "http://www.example.com/index.html";
    EXPECT_EQ(reader.read(page, page, "http://img.example.com/p.png", &why), "sub body");
    EXPECT_EQ(why, Miss::None);
    EXPECT_EQ(reader.read(page, ipPage, "http://127.0.0.1:8731/f.css", &why), "framed body");
    EXPECT_EQ(why, Miss::None);

    // The cache is split by site: the same resource from another page is not there.
    EXPECT_EQ(reader.read("http://localhost:8731/", "http://localhost:8731/",
                          "http://127.0.0.1:8731/a.png", &why),
              std::nullopt);
    EXPECT_EQ(why, Miss::NotFound);
    EXPECT_EQ(reader.read(page, page, "http://img.example.com/missing.png", &why), std::nullopt);
    EXPECT_EQ(why, Miss::NotFound);
    EXPECT_EQ(reader.read(page, page, "http://www.example.com/b.js", &why), std::nullopt);
    EXPECT_EQ(why, Miss::Malformed);
}
