#include "Drops.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "FileCopy.h"
#include "FileNames.h"
#include "IniFile.h"
#include "ResourceFiles.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString Utf16OrUtf8(const QByteArray& bytes)
{
    // text/x-moz-url comes as UTF-16 from most programs, as UTF-8 from a few.
    if (bytes.size() >= 2 && bytes.size() % 2 == 0 &&
        (bytes[1] == 0 || bytes.startsWith("\xFF\xFE")))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                  bytes.size() / 2)
            .remove(QChar(0xFEFF));
    return QString::fromUtf8(bytes);
}

// Copies a file onto target, replacing it only once the new copy is complete.
void CopyReplacing(const QString& source, const QString& target)
{
    const QFileInfo from(source), to(target);
    if (to.exists() && from.canonicalFilePath() == to.canonicalFilePath())
        return; // dropped onto itself
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return;
    AtomicFileWriter out(target);
    if (!out.open())
        return;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || !out.write(chunk.constData(), chunk.size()))
            return;
    }
    out.commit();
}

// The collection folder that files of this class are dropped into; "Files" for the rest.
QString KindFolder(FileClass fileClass)
{
    const std::optional<CaptureKind> kind = CaptureKindOfClass(fileClass);
    return kind ? FolderOf(*kind) : QStringLiteral("Files");
}

// Writes the bytes of a resource an open page shows into its kind's folder, under its own name
// unless another file holds that name. False when no page shows it or nothing could be written.
class DroppedResourceWriter : public ResourceSink
{
public:
    explicit DroppedResourceWriter(QString target) : m_target(std::move(target)) {}
    void receive(const QString&, const QByteArray& bytes) override
    {
        if (m_written.isEmpty())
            m_written = WriteResourceFile(bytes, m_target);
    }
    void refuse(const QString&, const Message&) override {}
    bool written() const { return !m_written.isEmpty(); }

private:
    QString m_target;
    QString m_written;
};

bool CopyShownResource(Browser& browser, const QString& url, const QString& folder,
                       const QString& name)
{
    DroppedResourceWriter writer(folder + u'/' + name);
    return browser.fetchShown(url, writer) && writer.written();
}
} // namespace

std::optional<TextDrop> DecodeTextDrop(const QMimeData* data)
{
    if (!data)
        return std::nullopt;

    // A link with its title.
    for (const char* format : {"text/x-moz-url", "_NETSCAPE_URL"}) {
        const QString mime = QString::fromLatin1(format);
        if (!data->hasFormat(mime))
            continue;
        const QStringList lines =
            Utf16OrUtf8(data->data(mime)).split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
        if (!lines.isEmpty() && IsWebUrl(TrimControlChars(lines[0])))
            return TextDrop{TextDrop::Url, TrimControlChars(lines[0]),
                            lines.size() > 1 ? lines[1] : QString()};
    }

    QStringList webUrls, files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            files << url.toLocalFile();
        else if (IsWebUrl(url.toString()))
            webUrls << url.toString(QUrl::FullyEncoded);
    }
    if (!webUrls.isEmpty())
        return TextDrop{TextDrop::Url, webUrls.join(QStringLiteral("\r\n")), QString()};
    if (!files.isEmpty())
        return TextDrop{TextDrop::FileList, files.join(QStringLiteral("\r\n")), QString()};
    if (data->hasText())
        return TextDrop{TextDrop::PlainText, data->text(), QString()};
    return std::nullopt;
}

std::optional<PictureDrop> DecodePictureDrop(const QMimeData* data)
{
    if (!data)
        return std::nullopt;
    if (data->hasFormat(QStringLiteral("image/svg+xml")))
        return PictureDrop{QImage(), data->data(QStringLiteral("image/svg+xml"))};
    if (data->hasImage()) {
        const QImage image = qvariant_cast<QImage>(data->imageData());
        if (!image.isNull())
            return PictureDrop{image, QByteArray()};
    }
    for (const QString& format : data->formats()) {
        if (!format.startsWith(QLatin1String("image/")))
            continue;
        QImage image;
        if (image.loadFromData(data->data(format)))
            return PictureDrop{image, QByteArray()};
    }
    return std::nullopt;
}

Drops::Drops(const Paths& paths, FolderCopyObserver* observer, Browser* browser)
    : m_paths(paths), m_observer(observer), m_browser(browser)
{}

QString Drops::NewCollectionFileName(const QString& folder, const QString& ext) const
{
    QString name;
    do {
        name = m_paths.collectionRoot + folder + u'/' + RandomDigits() + ext;
    } while (QFileInfo::exists(name));
    return name;
}

void Drops::StoreTextDrop(const TextDrop& drop)
{
    if (drop.format == TextDrop::PlainText) {
        if (TrimControlChars(drop.text).isEmpty())
            return;
        const QString folder = FolderOf(CaptureKind::Text);
        QDir().mkpath(m_paths.collectionRoot + folder);
        const QString name = NewCollectionFileName(folder, QStringLiteral(".txt"));
        QString error;
        if (!WriteFileAtomically(name, (drop.text + QStringLiteral("\r\n")).toUtf8(), &error))
            throw InOutError(name, error);
        return;
    }

    const QStringList lines = drop.text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (const QString& line : lines) {
        if (!line.isEmpty() && QFileInfo::exists(line)) {
            StoreDroppedPath(line);
        } else if (IsWebUrl(line)) {
            // A picture, a tune or a movie that an open page shows is copied from the browser;
            // anything else becomes a shortcut.
            const QString name = ResourceFileName(line);
            const FileClass c = ClassifyFileName(name);
            const bool media = c == fcPhoto || c == fcMusic || c == fcFlash;
            if (!media || !m_browser ||
                !CopyShownResource(*m_browser, line, m_paths.collectionRoot + KindFolder(c), name))
                CreateUrlShortcut(line, drop.description, QString());
        }
    }
}

void Drops::StoreDroppedPath(const QString& droppedPath)
{
    // Sizes and copies are resolved against this absolute path, never the current folder.
    const QFileInfo info(droppedPath);
    const QString path = info.absoluteFilePath();
    if (info.isDir()) {
        QString clean = path;
        while (clean.size() > 1 && clean.endsWith(u'/'))
            clean.chop(1);
        const QString name = clean.mid(clean.lastIndexOf(u'/') + 1);
        const QString target = m_paths.collectionRoot + QStringLiteral("Files/") + name;
        QDir().mkpath(target);
        ShellCopyFiles(m_observer, path, QStringLiteral("*.*"), target);
        return;
    }

    const QString fileName = info.fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString ext = dot < 0 ? QString() : fileName.mid(dot);
    static const QStringList shortcutExts = {QStringLiteral(".lnk"), QStringLiteral(".url")};
    if (TextInList(ext, shortcutExts, 1)) {
        QDir().mkpath(m_paths.favoritesDir);
        CopyReplacing(path, m_paths.favoritesDir + fileName);
        return;
    }

    const QString folder = KindFolder(ClassifyFile(path));
    // Like the other drops, this copy does not bring back a kind folder the user deleted.
    if (QFileInfo(m_paths.collectionRoot + folder).isDir())
        CopyReplacing(path, m_paths.collectionRoot + folder + u'/' + fileName);
}

void Drops::CreateUrlShortcut(const QString& url, const QString& name, const QString& folder) const
{
    const QString cleanUrl = TrimControlChars(url);
    // A title may hold "/", ".." or characters a file name cannot: it names a file only once it
    // is made safe.
    const QString cleanName = CutToBytes(CleanFileName(TrimControlChars(name)), 255 - 4);
    if (cleanUrl.isEmpty() || cleanName.isEmpty())
        return;
    QString dir = folder.isEmpty() ? m_paths.favoritesDir : folder;
    if (!dir.endsWith(u'/'))
        dir += u'/';
    QDir().mkpath(dir);
    try {
        IniFile::WriteString(dir + cleanName + QStringLiteral(".url"),
                             QStringLiteral("InternetShortCut"), QStringLiteral("URL"), cleanUrl);
    } catch (const IniWriteError&) {
        // a shortcut that cannot be written is left out, like a failed copy
    }
}

bool Drops::StorePictureDrop(const PictureDrop& picture) const
{
    if (picture.isEmpty())
        return true;
    const QString folder = FolderOf(CaptureKind::Photo);
    QDir().mkpath(m_paths.collectionRoot + folder);
    const QString name = NewCollectionFileName(folder, QStringLiteral(".bmp"));
    if (!picture.vector.isEmpty()) {
        return WriteFileAtomically(name, picture.vector);
    }
    return picture.bitmap.save(name, "BMP");
}
