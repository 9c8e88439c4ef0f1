#pragma once

#include "Browser.h"
#include "ResourcePasses.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// What a saved page needs beyond the classic passes to look offline as it did live: the fonts,
// pictures and imported sheets its style sheets name (recursively), the candidates of its images'
// srcsets, its media's sources, posters and tracks, and every other address it names read against
// the document. Everything comes from the browser; what it does not hold is named by its web
// address, never by a file that is not there.
class OfflineResources
{
public:
    OfflineResources(Browser& browser, const PageSnapshot& doc, const QString& path,
                     const QString& folder, CaptureLedger* ledger);

    // Reads the page's style sheets, linked and imported, from the browser; saves what they and
    // the page's STYLE elements and style attributes name, and the imported sheets, each naming
    // the copies beside it. Returns the linked sheets as they are to be written, for the pass
    // that writes them.
    QHash<QString, QByteArray> saveStyleSheets();

    // Saves the srcset candidates, posters, media and track sources the browser holds, and
    // returns the writes the saved copy needs besides `done` (the passes' and the frames'):
    // style texts naming the copies, those sources, every other relative address made absolute,
    // and a base that no longer sends the copy's addresses elsewhere.
    QList<AttributeWrite> finish(const QList<AttributeWrite>& done);

private:
    struct Sheet
    {
        QString text;
        bool utf8 = true;
        QStringList imports; // resolved, without fragment
        bool written = false;
        bool writing = false;
        QString file;
        QByteArray bytes; // as written
    };

    void readSheets(QStringList level);
    void writeSheet(const QString& url);
    QString sheetFile(const QString& url) const;
    QString rewriteForPage(const QString& css) const;
    void noteNamed(const QString& css, const QString& base, QStringList* imports);

    Browser& m_browser;
    const PageSnapshot& m_doc;
    QString m_path;
    QString m_folder;
    CaptureLedger* m_ledger;
    QString m_base;
    QHash<QString, Sheet> m_sheets;
    QStringList m_sheetOrder;
    QStringList m_linked;
    QStringList m_named; // what the sheets and the page's style name, resolved
    QSet<QString> m_namedSet;
    SavedResources m_saved;
    QMap<int, QString> m_styleTexts; // STYLE element -> its text
    QMap<int, QString> m_styleAttrs; // element -> its style attribute
};
