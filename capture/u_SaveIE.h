#pragma once

#include "BrowserAccess.h"
#include "ProgressDisplays.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>

// Capture kinds; 1 to 4 coincide with the file classes.
enum CaptureKind : quint8
{
    ckPhoto = 1,
    ckMusic = 2,
    ckFlash = 3,
    ckText = 4,
    ckEMail = 5,
    ckWebPage = 7,
};

// Capture scope: all open pages, or (any other value) the current page.
constexpr quint8 csAllPages = 0;
constexpr quint8 csCurrentPage = 1;

// The capture engine: one object per capture command, saving whole pages or harvesting one
// kind of content from the open browser pages. It holds no widget: the progress window's
// displays are reached through small interfaces and may be null.
class TSaveIE
{
public:
    explicit TSaveIE(BrowserAccess* browser = CurrentBrowserAccess());

    TextDisplay* PageLabel = nullptr;
    TextDisplay* FileLabel = nullptr;
    TextDisplay* UrlLabel = nullptr;
    ProgressBar* PageBar = nullptr;
    ProgressBar* TotalBar = nullptr;

    // Addresses harvested during the run, in the order first found.
    QStringList EMails;

    // Capture driver.
    void CapturePages(const QString& path, quint8 scope, quint8 kind);
    void CloseAllIE();
    void BeginPage(const QString& url, const QString& title);
    void ShowFile(const QString& url);
    void EndPage();
    QString GetIEFrameTitle();
    void ReloadOffline(BrowserWindow& browser);

    // Web page saver.
    void SavePage(const DocumentPtr& doc, const QString& path, const QString& name);
    QString MakePageName(const DocumentPtr& doc, const QString& path);
    void WriteUrlIni(const QString& url, const QString& filesFolder, const QString& iniName);
    void SaveHtml(const DocumentPtr& doc, const QString& fileName);
    void SaveImages(const DocumentPtr& doc, const QString& path, const QString& folder);
    void SaveEmbeds(const DocumentPtr& doc, const QString& path, const QString& folder);
    void SaveFlashMovies(const DocumentPtr& doc, const QString& path, const QString& folder);
    void SaveScripts(const DocumentPtr& doc, const QString& path, const QString& folder);
    void SaveStyleLinks(const DocumentPtr& doc, const QString& path, const QString& folder);
    void SaveBackgroundSound(const DocumentPtr& doc, const QString& path, const QString& folder);
    void SaveFrames(const DocumentPtr& doc, const QString& path, const QString& folder,
                    quint8 kind);

    // Content harvesters.
    void HarvestPage(const DocumentPtr& doc, const QString& folder, quint8 kind);
    void SavePageText(const DocumentPtr& doc, const QString& folder);
    QString MakeTextFileName(const DocumentPtr& doc);
    void HarvestEMails(const DocumentPtr& doc, QStringList& list);
    static bool IsEMailAddress(const QString& text);

    // Shows EMails in the e-mail list dialog, through the handler the program installs (the
    // engine itself links no widget); does nothing when none is installed.
    void ShowEMailDialog();
    using EMailDialogHandler = std::function<void(const QStringList& emails)>;
    static void SetEMailDialogHandler(EMailDialogHandler handler);

    // Copies a file the browser holds (or a dropped file from the browser-cache folder) into the
    // collection without overwriting a different file. With SubFolder empty the file keeps its
    // own name in Root; otherwise RelPath names it below Root/SubFolder (its folders kept with
    // KeepDirs). Nothing is ever written outside Root/SubFolder. Returns the path of the file
    // that now holds the bytes (a new copy or an identical file already there), or the empty
    // text when nothing was copied.
    static QString CopyCacheFile(const QString& cacheFile, const QString& relPath,
                                 const QString& root, const QString& subFolder, bool keepDirs,
                                 qint64 size);

    // Where CopyCacheFile puts a file for RelPath below Root/SubFolder, before any renaming;
    // empty when nothing would be copied.
    static QString CacheCopyTarget(const QString& relPath, const QString& root,
                                   const QString& subFolder, bool keepDirs);

    // Lets the user interface process pending events during a long run.
    static void PumpMessages();

private:
    struct Pass;
    void RunResourcePass(const Pass& pass, const DocumentPtr& doc, const QString& path,
                         const QString& folder);

    BrowserAccess* m_browser;
};

// A relative address written into a saved page for a file of the collection: characters that
// would make a browser read the name differently ("%", "#", "?") are escaped.
QString LinkAddress(const QString& relativePath);
