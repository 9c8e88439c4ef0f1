#include "PageSaver.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "FileNames.h"
#include "IniFile.h"
#include "OfflineResources.h"
#include "ResourceFiles.h"
#include "ResourcePasses.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

namespace {

// A file name component is at most 255 bytes: a page name leaves room for ".files".
constexpr int kPageNameBytes = 255 - 6;
constexpr qsizetype kHtmlPiece = 64 * 1024;

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

} // namespace

QString NameFromText(const QString& text)
{
    QString name = CleanFileName(text);
    name.remove(QChar(0));
    return name;
}

QString LimitName(const QString& name, int maxBytes)
{
    return CutToBytes(name.size() >= 255 ? LeftChars(name, 250) : name, maxBytes);
}

QString NameFromBody(Browser& browser, const PageSnapshot& doc)
{
    if (doc.body < 0)
        return QString();
    return NameFromText(LeftChars(browser.text(doc, doc.body), 30));
}

bool IsBlankName(const QString& name)
{
    return TrimControlChars(name).isEmpty();
}

void WriteTextFile(const QString& fileName, const QByteArray& bytes)
{
    QString why;
    if (!WriteFileAtomically(fileName, bytes, &why))
        throw InOutError(fileName, why);
}

PageSaver::PageSaver(Browser& browser, CaptureDisplays& displays, CaptureLedger* ledger)
    : m_browser(browser), m_displays(displays), m_ledger(ledger)
{}

void PageSaver::savePage(const PageSnapshot& doc, const QString& path, const QString& name)
{
    if (!IsWebUrl(doc.address))
        return;
    m_displays.beginPage(doc.address, doc.title);
    Finally done([this] { m_displays.endPage(); });
    if (const std::optional<PendingPageFile> file = saveFiles(doc, path, name))
        saveHtml(doc, *file, true);
}

std::optional<PendingPageFile> PageSaver::savePageLeavingFile(const PageSnapshot& doc,
                                                              const QString& path)
{
    if (!IsWebUrl(doc.address))
        return std::nullopt;
    m_displays.beginPage(doc.address, doc.title);
    Finally done([this] { m_displays.endPage(); });
    std::optional<PendingPageFile> file = saveFiles(doc, path, QString());
    if (file) {
        m_pendingFiles.insert(file->fileName);
        m_browser.serializeAhead(doc, file->writes, copyOptions());
    }
    return file;
}

void PageSaver::writePageFile(const PageSnapshot& doc, const PendingPageFile& file)
{
    Finally written([&] { m_pendingFiles.remove(file.fileName); });
    saveHtml(doc, file, false);
}

std::optional<PendingPageFile> PageSaver::saveFiles(const PageSnapshot& doc, const QString& path,
                                                    const QString& name)
{
    const QString pageName = name.isEmpty() ? makePageName(doc, path) : name;
    if (IsBlankName(pageName))
        return std::nullopt;
    const QString folder = pageName + QStringLiteral(".files");
    // Nothing of the page is written through a link that stands where its folder goes.
    if (const QString link =
            LinkOnTheWay(path, WithSlash(path) + folder + QStringLiteral("/url.ini"));
        !link.isEmpty()) {
        if (m_ledger)
            m_ledger->refuse(doc.address,
                             {QStringLiteral("C_PageLinkInWay"),
                              QStringLiteral("the page is not saved: %1 is a symbolic link"),
                              {link}});
        return std::nullopt;
    }
    // What a killed save of this page left half-written goes before this one writes.
    SweepLeftoverFiles(WithSlash(path) + folder);
    writeUrlIni(doc.address, WithSlash(path) + folder);
    QList<AttributeWrite> writes;
    // Beyond the classic passes, the copy takes along what its style sheets name; the sheets
    // the link pass writes are the ones that name those copies.
    std::optional<OfflineResources> offline;
    QHash<QString, QByteArray> sheets;
    if (!m_classic) {
        offline.emplace(m_browser, doc, path, folder, m_ledger);
        sheets = offline->saveStyleSheets();
    }
    for (const ResourcePass* pass : kSavingPasses)
        writes += RunResourcePass(*pass, m_browser, doc, path, folder, m_displays, m_ledger,
                                  pass == &kStyleLinkPass ? sheets : QHash<QString, QByteArray>());
    writes += saveFrames(doc, path, folder);
    if (offline)
        writes += offline->finish(writes);
    return PendingPageFile{writes, WithSlash(path) + pageName + QStringLiteral(".htm")};
}

CopyOptions PageSaver::copyOptions() const
{
    CopyOptions options;
    options.inertScripts = !m_classic && !m_keepScripts;
    options.fieldValues = !m_classic;
    return options;
}

QString PageSaver::makePageName(const PageSnapshot& doc, const QString& path)
{
    QString name;
    try {
        name = NameFromText(doc.title);
        if (IsBlankName(name))
            name = NameFromBody(m_browser, doc);
        if (IsBlankName(name))
            name = RandomDigits();
        name = LimitName(name, kPageNameBytes);

        const QString dir = WithSlash(path);
        auto pageFile = [&]() -> QString { return dir + name + QStringLiteral(".htm"); };
        auto iniFile = [&]() -> QString { return dir + name + QStringLiteral(".files/url.ini"); };
        // A page whose page file is still to come holds its name as if it were written.
        auto pageFileTaken = [&] {
            return m_pendingFiles.contains(pageFile()) || QFileInfo(pageFile()).isFile();
        };
        if (pageFileTaken() && QFileInfo(iniFile()).isFile()) {
            for (;;) {
                const QString stored =
                    IniFile::ReadString(iniFile(), QStringLiteral("Site"), QStringLiteral("URL"));
                if (stored.isEmpty() || AsciiEqualsIgnoreCase(stored, doc.address))
                    break;
                name = NextCounterName(name);
                PumpEvents();
                if (!pageFileTaken())
                    break;
            }
        }
    } catch (const NimbrilError&) {
        // the name reached so far is the result
    }
    return name;
}

void PageSaver::writeUrlIni(const QString& url, const QString& filesFolder)
{
    const QString file = WithSlash(filesFolder) + QStringLiteral("url.ini");
    if (QFileInfo::exists(file))
        return;
    QDir().mkpath(filesFolder);
    IniFile::WriteString(file, QStringLiteral("Site"), QStringLiteral("URL"), url);
    m_displays.pageStep();
}

QList<AttributeWrite> PageSaver::saveFrames(const PageSnapshot& doc, const QString& path,
                                            const QString& folder)
{
    QList<AttributeWrite> writes;
    const QString sub = WithSlash(path) + folder;
    // Saves the frame's document into the resource folder; false when no name can be chosen for
    // it, which ends the frame loop.
    auto saveFrame = [&](int index, const std::shared_ptr<const PageSnapshot>& frameDoc) {
        // After a stop the frames not yet saved keep their web addresses.
        if (m_ledger && m_ledger->stopping())
            return false;
        const QString frameName = makePageName(*frameDoc, sub);
        if (IsBlankName(frameName))
            return false;
        savePage(*frameDoc, sub, frameName);
        // The frame element names the frame's page only once that page is written.
        if (QFileInfo(WithSlash(sub) + frameName + QStringLiteral(".htm")).isFile())
            writes.append({index, QStringLiteral("src"),
                           LinkAddress(folder + u'/' + frameName + QStringLiteral(".htm"))});
        PumpEvents();
        return true;
    };
    for (int index : doc.elementsTagged(QStringLiteral("FRAME"))) {
        try {
            const ElementData& element = doc.elements[size_t(index)];
            const auto frameDoc =
                doc.frameNamed(element.attribute(QStringLiteral("Name")).value_or(QString()));
            if (!frameDoc || !element.attribute(QStringLiteral("src")))
                continue;
            if (!saveFrame(index, frameDoc))
                break;
        } catch (const NimbrilError&) {
            // this frame is given up; the next one is visited
        }
    }
    // Beyond the classic passes, inline frames are saved the same way.
    if (m_classic)
        return writes;
    for (int index : doc.elementsTagged(QStringLiteral("IFRAME"))) {
        try {
            if (!doc.elements[size_t(index)].attribute(QStringLiteral("src")))
                continue;
            const auto frameDoc = m_browser.inlineFrame(doc, index);
            if (frameDoc && IsWebUrl(frameDoc->address) && !saveFrame(index, frameDoc))
                break;
        } catch (const NimbrilError&) {
            // this frame is given up; the next one is visited
        }
    }
    return writes;
}

void PageSaver::saveHtml(const PageSnapshot& doc, const PendingPageFile& file, bool onPageBar)
{
    if (doc.root >= 0) {
        // The page is written as the browser hands it out, and named only when whole.
        const QString& fileName = file.fileName;
        AtomicFileWriter out(fileName);
        if (!out.open())
            throw InOutError(fileName, out.errorString());
        const int from = m_displays.pageBar ? m_displays.pageBar->position() : 0;
        qint64 written = 0;
        m_browser.serialize(doc, file.writes, copyOptions(), [&](const QByteArray& piece) {
            for (qsizetype at = 0; at < piece.size(); at += kHtmlPiece) {
                const qsizetype size = qMin(kHtmlPiece, piece.size() - at);
                if (!out.write(piece.constData() + at, size))
                    throw InOutError(fileName, out.errorString());
                written += size;
                if (onPageBar)
                    m_displays.pageWork(from, written);
                PumpEvents();
            }
        });
        if (!out.commit())
            throw InOutError(fileName, out.errorString());
    }
    if (onPageBar)
        m_displays.pageStep();
}
