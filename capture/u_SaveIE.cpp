#include "u_SaveIE.h"

#include "AtomicFile.h"
#include "BrowserCache.h"
#include "Errors.h"
#include "FileCopy.h"
#include "FileNames.h"
#include "IniFile.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// A file name component is at most 255 bytes: a page name leaves room for ".files", a text
// file's name for ".txt".
constexpr int kPageNameBytes = 255 - 6;
constexpr int kTextNameBytes = 255 - 4;
constexpr qsizetype kHtmlChunk = 64 * 1024;

TSaveIE::EMailDialogHandler& EMailHandler()
{
    static TSaveIE::EMailDialogHandler handler;
    return handler;
}

QString withSlash(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

// Empty after trimming spaces and control characters.
bool IsBlank(const QString& text)
{
    return TrimControlChars(text).isEmpty();
}

// The first n UTF-16 code units, without cutting a character in two.
QString LeftChars(const QString& text, qsizetype n)
{
    if (text.size() <= n)
        return text;
    if (n > 0 && text[n - 1].isHighSurrogate())
        --n;
    return text.left(n);
}

// A name cut to 250 characters when it has 255 or more, then to what a file name can hold.
QString LimitName(const QString& name, int maxBytes)
{
    return CutToBytes(name.size() >= 255 ? LeftChars(name, 250) : name, maxBytes);
}

// Name with its final counter raised by one, "(1)" appended when it has none; the part before
// the counter gives way so that the whole still fits.
QString NextCounterName(const QString& name)
{
    const int p = CounterSuffixPos(name);
    QString stem = name;
    qint64 next = 1;
    if (p != -1) {
        int value = 0;
        StrToIntStrict(name.mid(p - 1, name.size() - p), &value);
        next = qint64(value) + 1;
        stem = name.left(p - 2);
    }
    const QString suffix = u'(' + QString::number(next) + u')';
    return CutToBytes(stem, kPageNameBytes - int(suffix.toUtf8().size())) + suffix;
}

// A text made usable as a file name; a NUL, which no file name can hold, is dropped too.
QString NameFromText(const QString& text)
{
    QString name = CleanFileName(text);
    name.remove(QChar(0));
    return name;
}

// The body's text for a name, when the title gives none.
QString NameFromBody(const DocumentPtr& doc)
{
    const ElementPtr body = doc->body();
    return body ? NameFromText(LeftChars(body->innerText(), 30)) : QString();
}

void WriteTextFile(const QString& fileName, const QByteArray& bytes, bool pumpBetweenChunks)
{
    AtomicFileWriter file(fileName);
    if (!file.open())
        throw InOutError(fileName, file.errorString());
    for (qsizetype at = 0; at < bytes.size(); at += kHtmlChunk) {
        const qsizetype n = qMin(kHtmlChunk, bytes.size() - at);
        if (!file.write(bytes.constData() + at, n))
            throw InOutError(fileName, file.errorString());
        if (pumpBetweenChunks)
            TSaveIE::PumpMessages();
    }
    if (!file.commit())
        throw InOutError(fileName, file.errorString());
}

// Runs a final step on every way out of a block, also when an error passes through.
template <typename F> class Finally
{
public:
    explicit Finally(F f) : m_f(std::move(f)) {}
    ~Finally() noexcept(false)
    {
        if (std::uncaught_exceptions() > m_pending) {
            try {
                m_f();
            } catch (...) {
                // the error already on its way out is the one the user sees
            }
        } else {
            m_f();
        }
    }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    F m_f;
    int m_pending = std::uncaught_exceptions();
};

} // namespace

QString LinkAddress(const QString& relativePath)
{
    QString out;
    out.reserve(relativePath.size());
    for (const QChar c : relativePath) {
        if (c == u'%')
            out += QLatin1String("%25");
        else if (c == u'#')
            out += QLatin1String("%23");
        else if (c == u'?')
            out += QLatin1String("%3F");
        else
            out += c;
    }
    return out;
}

// What distinguishes the six resource passes.
struct TSaveIE::Pass
{
    enum class Source
    {
        Images,
        Embeds,
        Scripts,
        Objects,
        Links,
        BackSound
    };
    Source source;
    ElementView view;
    bool blankTest;
    bool showFile;
    bool savingOnly;        // always Path/Folder, always rewritten
    bool pumpWithoutView;   // pump also after an element that lacks the view
    bool targetBeforeItems; // the target folder exists even for a page without such elements
};

TSaveIE::TSaveIE(BrowserAccess* browser) : m_browser(browser) {}

void TSaveIE::PumpMessages()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// ---- capture driver -------------------------------------------------------------------------

void TSaveIE::CapturePages(const QString& path, quint8 scope, quint8 kind)
{
    if (!m_browser)
        throw BrowserUnreachableError(QStringLiteral("No browser is connected."));
    const WindowListPtr list = m_browser->windows();
    if (!list)
        return;
    if (TotalBar) {
        TotalBar->setMin(0);
        TotalBar->setMax(list->count());
    }
    Finally done([this] {
        if (TotalBar)
            TotalBar->setPosition(TotalBar->max());
    });

    const int n = list->count();
    for (int i = 0; i < n; ++i) {
        const ShellWindowPtr entry = list->item(i);
        BrowserWindow* browser = entry ? entry->asBrowser() : nullptr;
        if (browser) {
            if (!browser->hasDocument())
                continue;
            const DocumentPtr doc = browser->htmlDocument();
            if (doc) {
                bool process = scope == csAllPages;
                if (!process) {
                    const QString caption = GetIEFrameTitle();
                    const QString title = doc->title();
                    if (!title.isEmpty() && caption.contains(title, Qt::CaseSensitive))
                        process = true;
                }
                if (process) {
                    if (kind == ckWebPage) {
                        // The live page is put back also when the save fails half-way.
                        try {
                            SavePage(doc, path, QString());
                        } catch (...) {
                            try {
                                ReloadOffline(*browser);
                            } catch (const NimbrilError&) {
                            }
                            throw;
                        }
                        ReloadOffline(*browser);
                    } else {
                        HarvestPage(doc, path, kind);
                    }
                    if (scope != csAllPages)
                        break;
                }
            }
        }
        if (TotalBar)
            TotalBar->setPosition(TotalBar->position() + 1);
    }
}

void TSaveIE::CloseAllIE()
{
    if (m_browser)
        m_browser->closeAllBrowserWindows();
}

void TSaveIE::BeginPage(const QString& url, const QString& title)
{
    if (PageLabel)
        PageLabel->setText(QString());
    if (UrlLabel)
        UrlLabel->setText(QString());
    if (FileLabel)
        FileLabel->setText(QString());
    if (PageBar)
        PageBar->setPosition(0);
    if (PageLabel) {
        PageLabel->setText(title);
        PageLabel->repaint();
    }
    if (UrlLabel) {
        UrlLabel->setText(url);
        UrlLabel->repaint();
    }
}

void TSaveIE::ShowFile(const QString& url)
{
    if (FileLabel)
        FileLabel->setText(url);
    if (PageBar)
        PageBar->setPosition(PageBar->position() + 1);
}

void TSaveIE::EndPage()
{
    if (PageBar)
        PageBar->setPosition(PageBar->max());
}

QString TSaveIE::GetIEFrameTitle()
{
    if (!m_browser)
        return QString();
    return LeftChars(m_browser->topmostBrowserCaption(), 254);
}

void TSaveIE::ReloadOffline(BrowserWindow& browser)
{
    const bool wasOffline = browser.offline();
    browser.setOffline(true);
    browser.refresh();
    browser.setOffline(wasOffline);
}

// ---- web page saver -------------------------------------------------------------------------

void TSaveIE::SavePage(const DocumentPtr& doc, const QString& path, const QString& name)
{
    const QString url = doc->url();
    if (!IsWebUrl(url))
        return;
    const QString title = doc->title();
    BeginPage(url, title);
    Finally done([this] { EndPage(); });

    const QString pageName = name.isEmpty() ? MakePageName(doc, path) : name;
    if (IsBlank(pageName))
        return;
    const QString folder = pageName + QStringLiteral(".files");
    WriteUrlIni(url, withSlash(path) + folder, QStringLiteral("url.ini"));
    SaveImages(doc, path, folder);
    SaveEmbeds(doc, path, folder);
    SaveFlashMovies(doc, path, folder);
    SaveScripts(doc, path, folder);
    SaveStyleLinks(doc, path, folder);
    SaveBackgroundSound(doc, path, folder);
    SaveFrames(doc, path, folder, ckWebPage);
    SaveHtml(doc, withSlash(path) + pageName + QStringLiteral(".htm"));
}

QString TSaveIE::MakePageName(const DocumentPtr& doc, const QString& path)
{
    QString name;
    try {
        name = NameFromText(doc->title());
        if (IsBlank(name))
            name = NameFromBody(doc);
        if (IsBlank(name))
            name = RandomDigits();
        name = LimitName(name, kPageNameBytes);

        const QString dir = withSlash(path);
        auto pageFile = [&]() -> QString { return dir + name + QStringLiteral(".htm"); };
        auto iniFile = [&]() -> QString { return dir + name + QStringLiteral(".files/url.ini"); };
        if (QFileInfo(pageFile()).isFile() && QFileInfo(iniFile()).isFile()) {
            const QString url = doc->url();
            for (;;) {
                const QString stored =
                    IniFile::ReadString(iniFile(), QStringLiteral("Site"), QStringLiteral("URL"));
                if (stored.isEmpty() || AsciiEqualsIgnoreCase(stored, url))
                    break;
                name = NextCounterName(name);
                PumpMessages();
                if (!QFileInfo(pageFile()).isFile())
                    break;
            }
        }
    } catch (const NimbrilError&) {
        // the name reached so far is the result
    }
    return name;
}

void TSaveIE::WriteUrlIni(const QString& url, const QString& filesFolder, const QString& iniName)
{
    const QString file = withSlash(filesFolder) + iniName;
    if (QFileInfo::exists(file))
        return;
    QDir().mkpath(filesFolder);
    IniFile::WriteString(file, QStringLiteral("Site"), QStringLiteral("URL"), url);
    if (PageBar)
        PageBar->setPosition(PageBar->position() + 1);
}

void TSaveIE::SaveHtml(const DocumentPtr& doc, const QString& fileName)
{
    if (const ElementPtr root = doc->documentElement())
        WriteTextFile(fileName, root->outerHTML().toUtf8(), true);
    if (PageBar)
        PageBar->setPosition(PageBar->position() + 1);
}

void TSaveIE::RunResourcePass(const Pass& pass, const DocumentPtr& doc, const QString& path,
                              const QString& folder)
{
    const bool saving = pass.savingOnly || !folder.isEmpty();
    const QString target = saving ? withSlash(path) + folder : path;
    if (pass.targetBeforeItems)
        QDir().mkpath(target);

    CollectionPtr items;
    switch (pass.source) {
    case Pass::Source::Images:
        items = doc->images();
        break;
    case Pass::Source::Embeds:
        items = doc->embeds();
        break;
    case Pass::Source::Scripts:
        items = doc->scripts();
        break;
    case Pass::Source::Objects:
    case Pass::Source::Links:
    case Pass::Source::BackSound:
        if (const CollectionPtr all = doc->all()) {
            const char* tag = pass.source == Pass::Source::Objects ? "OBJECT"
                              : pass.source == Pass::Source::Links ? "LINK"
                                                                   : "BGSound";
            items = all->tags(QString::fromLatin1(tag));
        }
        break;
    }
    if (!items)
        return;
    int length = items->length();
    if (length <= 0)
        return;
    const bool backSound = pass.source == Pass::Source::BackSound;
    if (backSound)
        length = 1;
    else if (!pass.targetBeforeItems)
        QDir().mkpath(target);

    const QString docUrl = doc->url();
    for (int i = 0; i < length; ++i) {
        const ElementPtr e = items->item(i);
        QString address;
        if (pass.source == Pass::Source::Objects) {
            const std::optional<QString> movie = e ? e->movie() : std::nullopt;
            if (!movie)
                continue;
            address = *movie;
        } else {
            if (!e || !e->hasView(pass.view)) {
                if (pass.pumpWithoutView)
                    PumpMessages();
                continue;
            }
            address = e->address(pass.view);
        }
        if (pass.blankTest && address.trimmed().isEmpty())
            continue;

        QString url = address;
        if (pass.source != Pass::Source::Images && !IsWebUrl(address))
            url = CombineUrl(docUrl, address);
        if (url.isEmpty())
            continue;
        const QString cacheFile = GetCacheFileName(url);
        if (cacheFile.isEmpty())
            continue;
        if (pass.showFile)
            ShowFile(url);
        if (backSound)
            QDir().mkpath(target);

        if (saving) {
            const QString rel = RelativeResourcePath(docUrl, url);
            if (rel.isEmpty())
                continue;
            const QString copied =
                CopyCacheFile(cacheFile, rel, path, folder, true, GetFileSize(cacheFile));
            // The page names the file that holds the bytes, also when it had to be renamed or
            // its path made safe.
            const QString folderPrefix = withSlash(withSlash(path) + SafeRelativePath(folder));
            QString local = rel;
            if (copied.startsWith(folderPrefix))
                local = copied.mid(folderPrefix.size());
            else if (const QString t = CacheCopyTarget(rel, path, folder, true);
                     t.startsWith(folderPrefix))
                local = t.mid(folderPrefix.size());
            const QString newAddress = LinkAddress(folder + u'/' + local);
            if (pass.source == Pass::Source::Objects) {
                e->setAttribute(QStringLiteral("src"), newAddress);
                e->setAttribute(QStringLiteral("Movie"), newAddress);
            } else {
                e->setAddress(pass.view, newAddress);
            }
        } else {
            CopyCacheFile(cacheFile, QString(), path, QString(), false, GetFileSize(cacheFile));
        }
        if (!backSound)
            PumpMessages();
    }
}

void TSaveIE::SaveImages(const DocumentPtr& doc, const QString& path, const QString& folder)
{
    RunResourcePass({Pass::Source::Images, ElementView::Image, false, true, false, false, false},
                    doc, path, folder);
}

void TSaveIE::SaveEmbeds(const DocumentPtr& doc, const QString& path, const QString& folder)
{
    RunResourcePass({Pass::Source::Embeds, ElementView::Embed, true, true, false, true, false}, doc,
                    path, folder);
}

void TSaveIE::SaveFlashMovies(const DocumentPtr& doc, const QString& path, const QString& folder)
{
    RunResourcePass({Pass::Source::Objects, ElementView::Embed, false, false, false, false, false},
                    doc, path, folder);
}

void TSaveIE::SaveScripts(const DocumentPtr& doc, const QString& path, const QString& folder)
{
    RunResourcePass({Pass::Source::Scripts, ElementView::Script, true, false, true, true, false},
                    doc, path, folder);
}

void TSaveIE::SaveStyleLinks(const DocumentPtr& doc, const QString& path, const QString& folder)
{
    RunResourcePass({Pass::Source::Links, ElementView::Link, true, false, true, false, true}, doc,
                    path, folder);
}

void TSaveIE::SaveBackgroundSound(const DocumentPtr& doc, const QString& path,
                                  const QString& folder)
{
    RunResourcePass(
        {Pass::Source::BackSound, ElementView::BackSound, false, false, false, false, false}, doc,
        path, folder);
}

void TSaveIE::SaveFrames(const DocumentPtr& doc, const QString& path, const QString& folder,
                         quint8 kind)
{
    const CollectionPtr all = doc->all();
    const CollectionPtr elements = all ? all->tags(QStringLiteral("FRAME")) : nullptr;
    const FramesPtr windows = doc->frames();
    if (!elements || !windows)
        return;
    const int length = elements->length();
    for (int i = 0; i < length; ++i) {
        try {
            const ElementPtr e = elements->item(i);
            if (!e)
                continue;
            const QString name = e->getAttribute(QStringLiteral("Name")).value_or(QString());
            const DocumentPtr frameDoc = windows->documentByName(name);
            if (!frameDoc)
                continue;
            if (kind == ckWebPage) {
                if (!e->getAttribute(QStringLiteral("src")))
                    continue;
                const QString sub = withSlash(path) + folder;
                const QString frameName = MakePageName(frameDoc, sub);
                if (IsBlank(frameName))
                    break;
                e->setAttribute(QStringLiteral("src"),
                                LinkAddress(folder + u'/' + frameName + QStringLiteral(".htm")));
                SavePage(frameDoc, sub, frameName);
            } else {
                HarvestPage(frameDoc, path, kind);
            }
            PumpMessages();
        } catch (const NimbrilError&) {
            // this frame is given up; the next one is visited
        }
    }
}

// ---- content harvesters ---------------------------------------------------------------------

void TSaveIE::HarvestPage(const DocumentPtr& doc, const QString& folder, quint8 kind)
{
    const QString url = doc->url();
    if (!IsWebUrl(url))
        return;
    BeginPage(url, doc->title());
    Finally done([this] { EndPage(); });

    switch (kind) {
    case ckPhoto:
        SaveImages(doc, folder, QString());
        break;
    case ckMusic:
        SaveEmbeds(doc, folder, QString());
        SaveBackgroundSound(doc, folder, QString());
        break;
    case ckFlash:
        SaveFlashMovies(doc, folder, QString());
        break;
    case ckText:
        SavePageText(doc, folder);
        return;
    case ckEMail:
        HarvestEMails(doc, EMails);
        break;
    default:
        break;
    }
    SaveFrames(doc, folder, QString(), kind);
}

void TSaveIE::SavePageText(const DocumentPtr& doc, const QString& folder)
{
    if (!doc)
        return;
    const ElementPtr body = doc->body();
    if (!body)
        return;
    const QString url = doc->url();
    if (!IsWebUrl(url))
        return;
    BeginPage(url, doc->title());
    Finally done([this] { EndPage(); });

    const QString name = MakeTextFileName(doc);
    if (name.isEmpty())
        return;
    const QString text = body->outerText();
    WriteTextFile(withSlash(folder) + name + QStringLiteral(".txt"), text.toUtf8(), false);
}

QString TSaveIE::MakeTextFileName(const DocumentPtr& doc)
{
    QString name = NameFromText(doc->title());
    if (IsBlank(name))
        name = NameFromBody(doc);
    if (IsBlank(name))
        name = RandomDigits();
    return LimitName(name, kTextNameBytes);
}

void TSaveIE::HarvestEMails(const DocumentPtr& doc, QStringList& list)
{
    if (!doc)
        return;
    const CollectionPtr all = doc->all();
    if (!all)
        return;
    const CollectionPtr anchors = all->tags(QStringLiteral("A"));
    if (!anchors)
        return;
    const int length = anchors->length();
    for (int i = 0; i < length; ++i) {
        const ElementPtr e = anchors->item(i);
        if (!e || e->protocol() != QLatin1String("mailto:"))
            continue;
        if (const std::optional<QString> href = e->getAttribute(QStringLiteral("href"))) {
            QString address = *href;
            const qsizetype query = address.indexOf(u'?');
            if (query >= 0)
                address.truncate(query);
            const qsizetype colon = address.indexOf(u':');
            if (colon >= 0)
                address = address.mid(colon + 1);
            if (!list.contains(address, Qt::CaseInsensitive) && IsEMailAddress(address))
                list.append(address);
        }
        PumpMessages();
    }
}

bool TSaveIE::IsEMailAddress(const QString& text)
{
    return text.contains(u'@') && text.contains(u'.');
}

void TSaveIE::ShowEMailDialog()
{
    if (EMailHandler())
        EMailHandler()(EMails);
}

void TSaveIE::SetEMailDialogHandler(EMailDialogHandler handler)
{
    EMailHandler() = std::move(handler);
}

// ---- copying cached files -------------------------------------------------------------------

namespace {

// Name + random digits before its extension, still a valid name component.
QString RandomisedName(const QString& name)
{
    const QString digits = RandomDigits();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot < 0 ? QString() : name.left(dot);
    const QString ext = dot < 0 ? name : name.mid(dot);
    const int room = 255 - int(digits.toUtf8().size()) - int(ext.toUtf8().size());
    if (room < 0)
        return CutToBytes(digits + name, 255);
    return CutToBytes(stem, room) + digits + ext;
}

bool IsUsableName(const QString& name)
{
    return !name.trimmed().isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
}

} // namespace

QString TSaveIE::CacheCopyTarget(const QString& relPath, const QString& root,
                                 const QString& subFolder, bool keepDirs)
{
    const QString safeSub = SafeRelativePath(subFolder);
    if (safeSub.isEmpty())
        return QString();
    QString dir = withSlash(root) + safeSub;
    QString name = relPath;
    const qsizetype slash = relPath.lastIndexOf(u'/');
    if (slash >= 0) {
        name = relPath.mid(slash + 1);
        if (keepDirs) {
            const QString folders = SafeRelativePath(relPath.left(slash + 1));
            if (!folders.isEmpty())
                dir = withSlash(dir) + folders;
        }
    }
    name.remove(QChar(0));
    if (!IsUsableName(name))
        return QString();
    return withSlash(dir) + CutToBytes(name, 255);
}

QString TSaveIE::CopyCacheFile(const QString& cacheFile, const QString& relPath,
                               const QString& root, const QString& subFolder, bool keepDirs,
                               qint64 size)
{
    if (!QFileInfo(cacheFile).isFile())
        return QString();

    QString dir;
    QString name;
    if (subFolder.isEmpty()) {
        name = cacheFile.mid(cacheFile.lastIndexOf(u'/') + 1);
        name.remove(u'[');
        name.remove(u']');
        if (!IsUsableName(name))
            return QString();
        dir = withSlash(root);
    } else {
        const QString target = CacheCopyTarget(relPath, root, subFolder, keepDirs);
        if (target.isEmpty())
            return QString();
        const qsizetype slash = target.lastIndexOf(u'/');
        dir = target.left(slash + 1);
        name = target.mid(slash + 1);
    }

    // A file of that name is the same file only when it holds the same bytes; any other file
    // keeps its place and the copy gets a random number before its extension.
    while (QFileInfo(dir + name).isFile()) {
        if (GetFileSize(dir + name) == size && SameFileContents(dir + name, cacheFile))
            return dir + name;
        name = RandomisedName(name);
    }

    QDir().mkpath(dir);
    return CopyNewFile(cacheFile, dir + name) ? dir + name : QString();
}
