#include "Harvester.h"

#include "Errors.h"
#include "FileNames.h"
#include "PageSaver.h"
#include "ResourcePasses.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <algorithm>

namespace {

// A text file's name leaves room for ".txt".
constexpr int kTextNameBytes = 255 - 4;

} // namespace

Harvester::Harvester(Browser& browser, CaptureDisplays& displays, QStringList& emails,
                     CaptureLedger* ledger)
    : m_browser(browser), m_displays(displays), m_emails(emails), m_ledger(ledger)
{}

void Harvester::harvestPage(const PageSnapshot& doc, const QString& folder, CaptureKind kind)
{
    if (!IsWebUrl(doc.address))
        return;
    m_displays.beginPage(doc.address, doc.title);
    Finally done([this] { m_displays.endPage(); });

    switch (kind) {
    case CaptureKind::Photo:
        RunResourcePass(kImagePass, m_browser, doc, folder, QString(), m_displays, m_ledger);
        break;
    case CaptureKind::Music:
        RunResourcePass(kEmbedPass, m_browser, doc, folder, QString(), m_displays, m_ledger);
        RunResourcePass(kBackgroundSoundPass, m_browser, doc, folder, QString(), m_displays,
                        m_ledger);
        break;
    case CaptureKind::Flash:
        RunResourcePass(kFlashMoviePass, m_browser, doc, folder, QString(), m_displays, m_ledger);
        break;
    case CaptureKind::Text:
        savePageText(doc, folder);
        return; // the text of frames is not collected
    case CaptureKind::EMail:
        harvestEMails(doc);
        break;
    case CaptureKind::WebPage:
        break;
    }
    harvestFrames(doc, folder, kind);
}

void Harvester::harvestFrames(const PageSnapshot& doc, const QString& folder, CaptureKind kind)
{
    for (int index : doc.elementsTagged(QStringLiteral("FRAME"))) {
        try {
            const ElementData& element = doc.elements[size_t(index)];
            const auto frameDoc =
                doc.frameNamed(element.attribute(QStringLiteral("Name")).value_or(QString()));
            if (!frameDoc)
                continue;
            harvestPage(*frameDoc, folder, kind);
            PumpEvents();
        } catch (const NimbrilError&) {
            // this frame is given up; the next one is visited
        }
    }
}

void Harvester::savePageText(const PageSnapshot& doc, const QString& folder)
{
    if (doc.body < 0 || !IsWebUrl(doc.address))
        return;
    m_displays.beginPage(doc.address, doc.title);
    Finally done([this] { m_displays.endPage(); });

    const QString name = makeTextFileName(doc);
    if (name.isEmpty())
        return;
    const QString text = m_browser.text(doc, doc.body);
    WriteTextFile(WithSlash(folder) + name + QStringLiteral(".txt"), text.toUtf8());
}

QString Harvester::makeTextFileName(const PageSnapshot& doc)
{
    QString name = NameFromText(doc.title);
    if (IsBlankName(name))
        name = NameFromBody(m_browser, doc);
    if (IsBlankName(name))
        name = RandomDigits();
    return LimitName(name, kTextNameBytes);
}

void Harvester::harvestEMails(const PageSnapshot& doc)
{
    for (int index : doc.elementsTagged(QStringLiteral("A"))) {
        const ElementData& anchor = doc.elements[size_t(index)];
        if (anchor.protocol != QLatin1String("mailto:"))
            continue;
        if (const std::optional<QString> href = anchor.attribute(QStringLiteral("href"))) {
            QString address = *href;
            const qsizetype query = address.indexOf(u'?');
            if (query >= 0)
                address.truncate(query);
            const qsizetype colon = address.indexOf(u':');
            if (colon >= 0)
                address = address.mid(colon + 1);
            if (!m_emails.contains(address, Qt::CaseInsensitive) && IsEMailAddress(address))
                m_emails.append(address);
        }
        PumpEvents();
    }
}

bool Harvester::IsEMailAddress(const QString& text)
{
    // A blank or a control character would let a page forge lines of the list (or reach a
    // terminal that shows it): such a text is no address.
    const bool clean = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control;
    });
    return clean && text.contains(u'@') && text.contains(u'.');
}
