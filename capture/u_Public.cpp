#include "u_Public.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const QStringList PhotoExts = {
    QStringLiteral("JPG"), QStringLiteral("JPEG"), QStringLiteral("GIF"),  QStringLiteral("PNG"),
    QStringLiteral("PSD"), QStringLiteral("ICO"),  QStringLiteral("BMP"),  QStringLiteral("WMF"),
    QStringLiteral("EMF"), QStringLiteral("TGA"),  QStringLiteral("TIF"),  QStringLiteral("TIFF"),
    QStringLiteral("PCX"), QStringLiteral("JPE"),  QStringLiteral("IFF"),  QStringLiteral("DIB"),
    QStringLiteral("RLE"), QStringLiteral("LBM"),  QStringLiteral("ILBM"), QStringLiteral("JIF"),
    QStringLiteral("JFI"), QStringLiteral("KDC"),  QStringLiteral("PCD"),  QStringLiteral("DCX"),
    QStringLiteral("PIC"), QStringLiteral("PIX"),  QStringLiteral("SGI"),  QStringLiteral("BW"),
    QStringLiteral("RGB"), QStringLiteral("RGBA"),
};

const QStringList MusicExts = {
    QStringLiteral("MP3"),  QStringLiteral("WAV"),  QStringLiteral("M3U"), QStringLiteral("OGG"),
    QStringLiteral("AIFF"), QStringLiteral("AIF"),  QStringLiteral("MOD"), QStringLiteral("AU"),
    QStringLiteral("SND"),  QStringLiteral("VOC"),  QStringLiteral("CDA"), QStringLiteral("MPG"),
    QStringLiteral("MPEG"), QStringLiteral("MPA"),  QStringLiteral("MPE"), QStringLiteral("AVI"),
    QStringLiteral("ASF"),  QStringLiteral("WMV"),  QStringLiteral("WMA"), QStringLiteral("MID"),
    QStringLiteral("MIZ"),  QStringLiteral("MDZ"),  QStringLiteral("WAL"), QStringLiteral("B4S"),
    QStringLiteral("PLS"),  QStringLiteral("STM"),  QStringLiteral("STZ"), QStringLiteral("S3M"),
    QStringLiteral("S3Z"),  QStringLiteral("IT"),   QStringLiteral("ITZ"), QStringLiteral("XM"),
    QStringLiteral("XMZ"),  QStringLiteral("MTM"),  QStringLiteral("ULT"), QStringLiteral("669"),
    QStringLiteral("UMX"),  QStringLiteral("MP2"),  QStringLiteral("MP1"), QStringLiteral("NSV"),
    QStringLiteral("BPL"),  QStringLiteral("DAT"),  QStringLiteral("RMI"), QStringLiteral("MIDI"),
    QStringLiteral("WM"),   QStringLiteral("ASX"),  QStringLiteral("WAX"), QStringLiteral("WVX"),
    QStringLiteral("M1V"),  QStringLiteral("AIFC"), QStringLiteral("MBC"), QStringLiteral("LKS"),
    QStringLiteral("RMM"),  QStringLiteral("RA"),   QStringLiteral("RM"),  QStringLiteral("RMJ"),
    QStringLiteral("SMI"),  QStringLiteral("SMIL"), QStringLiteral("RT"),  QStringLiteral("RP"),
    QStringLiteral("MPV"),  QStringLiteral("PLS"),  QStringLiteral("XPL"),
};

const QStringList WebPageExts = {QStringLiteral("HTM"), QStringLiteral("HTML")};

namespace {

char16_t asciiUpper(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

bool startsWithIgnoreCase(QStringView text, QStringView prefix)
{
    return text.size() >= prefix.size() && AsciiEqualsIgnoreCase(text.left(prefix.size()), prefix);
}

constexpr int kCombinedUrlLimit = 2054; // a 2,055-byte buffer with its terminating zero

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool matchesPattern(const QString& name, const QString& pattern)
{
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        return true;
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern));
    return re.match(name).hasMatch();
}

} // namespace

bool IsWebUrl(const QString& url)
{
    return startsWithIgnoreCase(url, u"http://") || startsWithIgnoreCase(url, u"https://") ||
           startsWithIgnoreCase(url, u"ftp://");
}

QString CombineUrl(const QString& baseUrl, const QString& relativeUrl)
{
    const QUrl base(baseUrl);
    const QUrl relative(relativeUrl);
    if (!base.isValid() || base.isRelative() || !relative.isValid())
        return QString();
    const QString combined = QString::fromUtf8(base.resolved(relative).toEncoded());
    if (combined.isEmpty() || combined.size() > kCombinedUrlLimit)
        return QString();
    return combined;
}

QString UrlFileNamePart(const QString& url)
{
    return url.mid(url.lastIndexOf(u'/') + 1);
}

QString RelativeResourcePath(const QString& pageUrl, const QString& resourceUrl)
{
    if (resourceUrl.size() < pageUrl.size())
        return UrlFileNamePart(resourceUrl);
    for (qsizetype i = 0; i < pageUrl.size(); ++i) {
        if (asciiUpper(pageUrl[i].unicode()) == asciiUpper(resourceUrl[i].unicode()))
            continue;
        // URLs that part inside the scheme (http and https) or right after it share no folder.
        const QStringView prefix = QStringView(resourceUrl).left(i);
        if (prefix.contains(u"://") && !AsciiEqualsIgnoreCase(prefix, u"http://") &&
            !AsciiEqualsIgnoreCase(prefix, u"https://") &&
            !AsciiEqualsIgnoreCase(prefix, u"ftp://"))
            return resourceUrl.mid(i);
        return UrlFileNamePart(resourceUrl);
    }
    return resourceUrl.mid(pageUrl.size());
}

qint64 GetFileSize(const QString& path)
{
    if (path.isEmpty())
        return -1;
    const QFileInfo info(QDir::current().absoluteFilePath(path));
    if (!info.exists())
        return -1;
    return info.isDir() ? 0 : info.size();
}

bool ShellCopyFiles(FolderCopyObserver* owner, const QString& sourceFolder, const QString& pattern,
                    const QString& targetFolder)
{
    QDir().mkpath(targetFolder);
    QString source = sourceFolder;
    if (!source.endsWith(u'/'))
        source += u'/';
    const QDir sourceDir(source);
    if (!sourceDir.exists())
        return false;

    // The whole list is taken before anything is written, so a target inside the source is not
    // copied into itself.
    struct Item
    {
        QString from;
        QString to;
        bool isDir;
    };
    QList<Item> items;
    const QFileInfoList top = sourceDir.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                          QDir::System | QDir::NoDotAndDotDot,
                                                      QDir::Name | QDir::DirsFirst);
    for (const QFileInfo& entry : top) {
        if (!matchesPattern(entry.fileName(), pattern))
            continue;
        const QString to = QDir(targetFolder).filePath(entry.fileName());
        if (entry.isDir() && !entry.isSymLink()) {
            items.append({entry.filePath(), to, true});
            QDirIterator it(entry.filePath(),
                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                it.next();
                const QFileInfo sub = it.fileInfo();
                const QString rel = QDir(entry.filePath()).relativeFilePath(sub.filePath());
                items.append({sub.filePath(), to + u'/' + rel, sub.isDir() && !sub.isSymLink()});
            }
        } else {
            items.append({entry.filePath(), to, false});
        }
    }

    bool ok = true;
    bool replaceAll = false;
    int done = 0;
    const int total = int(items.size());
    for (const Item& item : items) {
        if (item.isDir) {
            ok = QDir().mkpath(item.to) && ok;
        } else if (QFileInfo(item.from).isFile()) {
            bool write = true;
            if (QFileInfo::exists(item.to)) {
                ReplaceAnswer answer = ReplaceAnswer::No;
                if (replaceAll)
                    answer = ReplaceAnswer::Yes;
                else if (owner)
                    answer = owner->askReplace(item.to);
                if (answer == ReplaceAnswer::Cancel)
                    return false;
                replaceAll = replaceAll || answer == ReplaceAnswer::YesToAll;
                write = answer == ReplaceAnswer::Yes || answer == ReplaceAnswer::YesToAll;
                if (write && !QFile::remove(item.to))
                    write = false, ok = false;
            }
            if (write) {
                QDir().mkpath(QFileInfo(item.to).path());
                ok = CopyNewFile(item.from, item.to) && ok;
            }
        }
        ++done;
        if (owner)
            owner->progress(done, total);
    }
    return ok;
}

int CounterSuffixPos(const QString& name)
{
    if (!name.endsWith(u')'))
        return -1;
    const qsizetype open = name.lastIndexOf(u'(');
    if (open < 0 || open > name.size() - 2)
        return -1;
    int value = 0;
    if (!StrToIntStrict(name.mid(open + 1, name.size() - open - 2), &value))
        return -1;
    return int(open) + 2;
}

QString CleanFileName(const QString& text)
{
    QString s = text;
    for (const QChar c : {u'\\', u':', u'*', u'?', u'"', u'<', u'>', u'|', u'\r', u'\n'})
        s.remove(c);
    s.replace(u'/', u'-');
    return TrimControlChars(s);
}

QString TrimControlChars(const QString& text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b].unicode() <= 32)
        ++b;
    while (e > b && text[e - 1].unicode() <= 32)
        --e;
    return text.mid(b, e - b);
}

bool AsciiEqualsIgnoreCase(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (asciiUpper(a[i].unicode()) != asciiUpper(b[i].unicode()))
            return false;
    return true;
}

FileClass ClassifyFile(const QString& path)
{
    return QFileInfo(path).isFile() ? ClassifyFileName(path) : fcOther;
}

FileClass ClassifyFileName(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0)
        return fcOther;
    const QString ext = path.mid(dot + 1);
    if (TextInList(ext, PhotoExts, 29))
        return fcPhoto;
    if (TextInList(ext, MusicExts, 62))
        return fcMusic;
    if (TextInList(ext, WebPageExts, 1))
        return fcWebPage;
    if (AsciiEqualsIgnoreCase(ext, u"SWF"))
        return fcFlash;
    if (AsciiEqualsIgnoreCase(ext, u"TXT"))
        return fcText;
    return fcOther;
}

bool TextInList(const QString& text, const QStringList& list, int highIndex)
{
    for (int i = 0; i <= highIndex && i < list.size(); ++i)
        if (AsciiEqualsIgnoreCase(text, list[i]))
            return true;
    return false;
}

bool StrToIntStrict(const QString& text, int* value)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n)
        return false;
    quint64 magnitude = 0;
    const quint64 limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    for (; i < n; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0 || (!hex && digit > 9))
            return false;
        magnitude = magnitude * (hex ? 16 : 10) + quint64(digit);
        if (magnitude > limit)
            return false;
    }
    const qint64 v = hex ? qint64(qint32(quint32(magnitude))) : qint64(magnitude);
    if (value)
        *value = int(negative ? -v : v);
    return true;
}

QString RandomDigits()
{
    return QString::number(QRandomGenerator::global()->bounded(2147483647));
}

QString CutToBytes(const QString& name, int maxBytes)
{
    if (name.toUtf8().size() <= maxBytes)
        return name;
    int bytes = 0;
    qsizetype i = 0;
    while (i < name.size()) {
        const bool pair = name[i].isHighSurrogate() && i + 1 < name.size();
        const int len = int(name.mid(i, pair ? 2 : 1).toUtf8().size());
        if (bytes + len > maxBytes)
            break;
        bytes += len;
        i += pair ? 2 : 1;
    }
    return name.left(i);
}

QString SafeRelativePath(const QString& relPath)
{
    QStringList safe;
    for (const QString& segment : relPath.split(u'/')) {
        QString s = segment;
        s.remove(QChar(0));
        if (s.isEmpty() || s == QLatin1String(".") || s == QLatin1String(".."))
            continue;
        safe << CutToBytes(s, 255);
    }
    QString result = safe.join(u'/');
    if (relPath.endsWith(u'/') && !result.isEmpty())
        result += u'/';
    return result;
}

bool SameFileContents(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    if (fa.size() != fb.size())
        return false;
    constexpr qint64 chunk = 1 << 16;
    while (!fa.atEnd()) {
        const QByteArray x = fa.read(chunk);
        const QByteArray y = fb.read(chunk);
        if (x != y)
            return false;
        if (x.isEmpty())
            break;
    }
    return fb.atEnd();
}

int CopyOpenFile(int in, int out, const std::function<bool()>& keepGoing)
{
    constexpr size_t chunkSize = 1 << 20;
    constexpr int chunksBetweenQuestions = 4;
    int chunk = 0;
    auto goOn = [&] { return !keepGoing || ++chunk % chunksBetweenQuestions != 0 || keepGoing(); };
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunkSize, 0);
        if (n == 0)
            return 0;
        if (n > 0) {
            if (!goOn())
                return ECANCELED;
            continue;
        }
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
            break; // the rest by hand
        if (errno != EINTR)
            return errno;
    }
    QByteArray buffer(qsizetype(chunkSize), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), chunkSize);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.constData() + done, size_t(n - done));
            if (w >= 0)
                done += w;
            else if (errno != EINTR)
                return errno;
        }
        if (!goOn())
            return ECANCELED;
    }
}

bool CopyNewFile(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat info
    {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return false;
    }
    const int out =
        ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = CopyOpenFile(in, out) == 0;
    ::close(in);
    if (::close(out) != 0)
        ok = false;
    if (!ok)
        ::unlink(target.constData());
    return ok;
}
