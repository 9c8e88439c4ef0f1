#include "FileNames.h"

#include "TextRules.h"

#include <QFileInfo>

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

QString WithSlash(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

QString CleanFileName(const QString& text)
{
    QString s = text;
    for (const QChar c : {u'\\', u':', u'*', u'?', u'"', u'<', u'>', u'|', u'\r', u'\n'})
        s.remove(c);
    s.replace(u'/', u'-');
    return TrimControlChars(s);
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
