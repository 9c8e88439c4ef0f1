#include "FuzzTargets.h"

#include "CdpProtocol.h"
#include "DiskCache.h"
#include "EMailList.h"
#include "Errors.h"
#include "FileCopy.h"
#include "FileNames.h"
#include "IniFile.h"
#include "LanguageCatalogue.h"
#include "PageAddresses.h"
#include "PaletteFile.h"
#include "ResourceFiles.h"
#include "StyleSheets.h"
#include "WebAddress.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Stops the run with the broken property, so that the fuzzer keeps the input as a crash.
[[noreturn]] void Fail(const char* what, const QString& detail = QString())
{
    std::fprintf(stderr, "fuzz check failed: %s %s\n", what, qPrintable(detail));
    std::abort();
}

// The input cut into Count fields at the first Count - 1 NUL bytes; the last field takes the
// rest, and missing fields are empty.
QList<QByteArray> Fields(const uint8_t* data, size_t size, int count)
{
    const QByteArray all(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QList<QByteArray> fields;
    qsizetype from = 0;
    for (int i = 0; i + 1 < count; ++i) {
        const qsizetype nul = all.indexOf('\0', from);
        if (nul < 0) {
            fields.append(all.mid(from));
            from = all.size();
            continue;
        }
        fields.append(all.mid(from, nul - from));
        from = nul + 1;
    }
    fields.append(all.mid(from));
    return fields;
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// True when Path, taken apart as the file system would, lies below Folder.
bool IsBelow(const QString& path, const QString& folder)
{
    const QString base = QDir::cleanPath(folder) + u'/';
    return QDir::cleanPath(path).startsWith(base);
}

// Letters, digits, "_" and "-" only: a name no path-making step needs to change.
bool IsPlainFolderName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_' && c != u'-')
            return false;
    return true;
}

} // namespace

int FuzzIni(const uint8_t* data, size_t size)
{
    const QList<QByteArray> f = Fields(data, size, 3);
    const QString text = QString::fromUtf8(f[2]);
    const QString value = IniFile::ReadStringFromText(
        text, QString::fromUtf8(f[0]), QString::fromUtf8(f[1]), QStringLiteral("(default)"));
    if (value.size() > IniFile::MaxValueLength)
        Fail("ini value longer than the limit");
    (void)IniFile::TrimBlanks(text);
    return 0;
}

int FuzzPalette(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    PaletteCells cells{};
    const bool parsed = ParsePalette(bytes, &cells);

    // The file reader must agree with the parser on the same bytes.
    QTemporaryDir dir;
    if (dir.isValid() && WriteBytes(dir.filePath(QStringLiteral("p.pal")), bytes)) {
        PaletteCells fromFile{};
        bool read = false;
        try {
            read = ReadPalette(dir.filePath(QStringLiteral("p.pal")), &fromFile);
        } catch (const NimbrilError&) {
            Fail("palette file could not be read back");
        }
        if (read != parsed || (parsed && fromFile != cells))
            Fail("palette file and bytes disagree");
    }

    // Whatever was read is written and read back unchanged.
    if (parsed) {
        PaletteCells again{};
        if (!ParsePalette(PaletteBytes(cells), &again) || again != cells)
            Fail("palette round trip");
    }
    return 0;
}

int FuzzLanguage(const uint8_t* data, size_t size)
{
    const QList<QByteArray> f = Fields(data, size, 3);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 0;
    LanguageCatalogue catalogue(dir.path());
    const bool traditional = !f[0].isEmpty() && (f[0].at(0) & 1);
    const QString fileLanguage = traditional ? SimplifiedChineseName : QStringLiteral("Fuzz");
    if (WriteBytes(catalogue.fileOf(fileLanguage), f[2])) {
        catalogue.setLanguage(traditional ? TraditionalChineseName : fileLanguage);
        const QString text = catalogue.text(QString::fromUtf8(f[1]));
        if (text.size() > 4 * IniFile::MaxValueLength)
            Fail("translation longer than any value");
        (void)catalogue.languages();
    }
    return 0;
}

int FuzzEMailList(const uint8_t* data, size_t size)
{
    const QList<QByteArray> f = Fields(data, size, 2);
    const QByteArrayList existingLines = SplitEMailListLines(f[0]);
    QStringList addresses;
    for (const QByteArray& line : SplitEMailListLines(f[1]))
        addresses.append(QString::fromUtf8(line));

    const QByteArray merged = MergeEMailList(f[0], addresses);
    const QByteArrayList mergedLines = SplitEMailListLines(merged);
    // Every old line survives byte for byte, and nothing beyond the new addresses is added.
    for (const QByteArray& line : existingLines) {
        if (!mergedLines.contains(line))
            Fail("merge lost a line", QString::fromUtf8(line));
    }
    if (mergedLines.size() < existingLines.size() ||
        mergedLines.size() > existingLines.size() + addresses.size())
        Fail("merge changed the number of lines unexpectedly");
    // Merging the same addresses again adds nothing.
    if (SplitEMailListLines(MergeEMailList(merged, addresses)).size() != mergedLines.size())
        Fail("second merge added lines");

    // The file operations give the same bytes as the in-memory merge.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("list.txt"));
    if (dir.isValid() && WriteBytes(file, f[0])) {
        try {
            MergeIntoEMailListFile(file, addresses);
        } catch (const NimbrilError&) {
            Fail("merging into a list file failed");
        }
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly) || in.readAll() != merged)
            Fail("list file differs from the merge");
    }
    return 0;
}

int FuzzCacheCopy(const uint8_t* data, size_t size)
{
    // pageUrl, resourceUrl, subFolder, cache file name, flags
    const QList<QByteArray> f = Fields(data, size, 5);
    const QString rel = RelativeResourcePath(QString::fromUtf8(f[0]), QString::fromUtf8(f[1]));
    const QString subFolder = QString::fromUtf8(f[2]);
    const bool keepDirs = f[4].isEmpty() || (f[4].at(0) & 1);

    QTemporaryDir temp;
    if (!temp.isValid())
        return 0;
    const QString root = temp.path() + QStringLiteral("/root");
    QDir().mkpath(root);

    const QString target = keepDirs ? ResourceTarget(rel, root, subFolder)
                                    : ResourceTarget(UrlFileNamePart(rel), root, subFolder);
    if (!target.isEmpty()) {
        if (!IsBelow(target, root))
            Fail("copy target outside the root", target);
        // A plain subfolder name is used as it stands; others are made safe first.
        if (IsPlainFolderName(subFolder) && !IsBelow(target, root + u'/' + subFolder))
            Fail("copy target outside the subfolder", target);
    }

    // A real write, twice (the second finds the first or goes beside it): afterwards nothing
    // may lie outside the root.
    const QString flat = root + u'/' + ResourceFileName(QString::fromUtf8(f[3]));
    for (const QString& to : {target, target, flat}) {
        if (to.isEmpty())
            continue;
        const QString written = WriteResourceFile(QByteArrayLiteral("bytes"), to);
        if (!written.isEmpty() && !IsBelow(written, root))
            Fail("write outside the root", written);
    }
    QDirIterator it(temp.path(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == root)
            continue;
        if (!IsBelow(path, root))
            Fail("file written outside the root", path);
    }
    return 0;
}

int FuzzCdp(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Cdp::Message m = Cdp::parseMessage(bytes);
    const QJsonObject object = m.kind == Cdp::Message::Kind::Event ? m.params : m.result;
    (void)Cdp::parseEvaluation(object);
    const Cdp::FrameTree tree = Cdp::parseFrameTree(object);
    for (const Cdp::ResourceInfo& r : tree.resources)
        if (r.contentSize < -1)
            Fail("negative resource size");
    (void)Cdp::pageTargets(Cdp::parseTargets(object));
    (void)Cdp::parseTargetInfo(object);
    (void)Cdp::parseBody(object);

    const QString text = QString::fromUtf8(bytes);
    if (const auto port = Cdp::parseActivePort(text)) {
        if (port->port < 1 || port->port > 65535 || !port->browserPath.startsWith(u'/'))
            Fail("bad active port accepted");
        (void)Cdp::activePortUrl(*port);
    }
    if (const auto hostPort = Cdp::parseHostPort(text)) {
        if (hostPort->port < 1 || hostPort->port > 65535 || hostPort->host.isEmpty())
            Fail("bad host and port accepted");
        (void)Cdp::isLoopbackHost(hostPort->host);
    }
    if (const auto url = Cdp::parseVersionReply(bytes)) {
        if (!Cdp::isLoopbackWebSocketUrl(*url))
            Fail("non-loopback websocket accepted", url->toString());
    }
    return 0;
}

int FuzzDiskCache(const uint8_t* data, size_t size)
{
    // One byte of key length, the key, then the entry file.
    const QByteArray all(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype keyLength = all.isEmpty() ? 0 : quint8(all.at(0));
    const QByteArray key = all.mid(1, keyLength);
    const QByteArray file = all.mid(1 + keyLength);

    DiskCache::Miss why = DiskCache::Miss::None;
    const std::optional<QByteArray> body = DiskCache::ParseEntry(file, key, &why);
    if (body.has_value() != (why == DiskCache::Miss::None))
        Fail("entry result and reason disagree");
    // Without an encoding the body is the bytes right after the key, never more.
    if (body && !file.toLower().contains("content-encoding") &&
        file.mid(24 + key.size(), body->size()) != *body)
        Fail("unencoded body is not the stored one");

    // The key doubles as an encoding list; the table makes the fuzzer reach the decoders.
    constexpr qint64 limit = 4096;
    static const char* const encodings[] = {"gzip",     "deflate",     "br",        "zstd",
                                            "gzip, br", "br, deflate", "zstd, gzip"};
    for (const QByteArray& encoding :
         {key, QByteArray(encodings[size % (sizeof encodings / sizeof *encodings)])}) {
        if (const auto decoded = DiskCache::DecodeContent(file, encoding, limit);
            decoded && decoded->size() > limit)
            Fail("decoded output over the limit", QString::fromLatin1(encoding));
    }
    return 0;
}

int FuzzStyleSheet(const uint8_t* data, size_t size)
{
    const QString css =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Tokens lie inside the text, in order, without overlapping.
    const QList<SheetAddress> found = SheetAddresses(css);
    qsizetype end = 0;
    for (const SheetAddress& a : found) {
        if (a.start < end || a.length <= 0 || a.start + a.length > css.size())
            Fail("address token out of place", css);
        end = a.start + a.length;
    }
    // Addresses written into the sheet, whatever they hold, read back as written, and no other.
    QStringList written;
    const QString out = ReplaceSheetAddresses(css, [&written](const SheetAddress&) {
        written << QStringLiteral("n%1\"'\\)( \n\r\f;x").arg(written.size());
        return std::optional<QString>(written.last());
    });
    QStringList back;
    for (const SheetAddress& a : SheetAddresses(out))
        back << a.address;
    if (back != written)
        Fail("rewritten addresses do not read back", out);

    // A srcset written from the candidates read reads back as the same candidates.
    const QList<SrcsetCandidate> candidates = ParseSrcset(css);
    const QList<SrcsetCandidate> again = ParseSrcset(ComposeSrcset(candidates));
    if (again.size() != candidates.size())
        Fail("srcset candidates lost", css);
    for (qsizetype i = 0; i < again.size(); ++i)
        if (again[i].address != candidates[i].address ||
            again[i].descriptor != candidates[i].descriptor)
            Fail("srcset candidate changed", candidates[i].address);
    return 0;
}

FuzzTarget FuzzTargetByName(const char* name)
{
    static const struct
    {
        const char* name;
        FuzzTarget target;
    } targets[] = {
        {"ini", FuzzIni},
        {"palette", FuzzPalette},
        {"language", FuzzLanguage},
        {"email", FuzzEMailList},
        {"cachecopy", FuzzCacheCopy},
        {"cdp", FuzzCdp},
        {"diskcache", FuzzDiskCache},
        {"stylesheet", FuzzStyleSheet},
    };
    for (const auto& t : targets)
        if (std::strcmp(t.name, name) == 0)
            return t.target;
    return nullptr;
}
