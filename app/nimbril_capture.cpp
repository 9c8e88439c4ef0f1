// nimbril-capture: the capture commands for scripts. Saves or harvests the current page or every
// open page of the running browser, the same way the menu commands do.
#include "CaptureRun.h"
#include "ChromiumBrowser.h"
#include "Desktop.h"
#include "Errors.h"
#include "Paths.h"
#include "Settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>

namespace {

// Progress as lines on standard error.
class StderrDisplay : public TextDisplay
{
public:
    explicit StderrDisplay(const char* label) : m_label(QByteArray(label) + ": ") {}
    void setText(const QString& text) override
    {
        m_text = text;
        if (text.isEmpty())
            return;
        // One write a line, without a text stream set up each time: a capture reports every
        // file it saves, thousands of them.
        const QByteArray line = m_label + text.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    }
    QString text() const override { return m_text; }
    void repaint() override {}

private:
    QByteArray m_label;
    QString m_text;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nimbril-capture"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBRIL_VERSION));
    QTextStream err(stderr);
    QTextStream out(stdout);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Saves or harvests the pages open in a running Chromium into Nimbril's collection.\n\n"
        "KIND is one of:\n"
        "  page   save each page whole (page file + resource folder)\n"
        "  photo  copy the pictures the browser holds\n"
        "  music  copy the sounds and videos of EMBED and BGSOUND elements\n"
        "  flash  copy the movies of OBJECT elements\n"
        "  text   write each page's text into a .txt file\n"
        "  email  print the addresses of mailto: links, one per line\n\n"
        "Progress goes to standard error. Exit status 0 on success; otherwise the error's text\n"
        "is printed and the status is 1 (2 for bad arguments, 3 when no browser answers or it\n"
        "closed during the capture, 4 when --scope current finds no current page, 5 when files\n"
        "of the pages were not saved: each is listed with why).\n"
        "The browser must run with its debugging port open, e.g.\n"
        "  chromium --remote-debugging-port=9222 --user-data-dir=$HOME/.config/nimbril/"
        "browser-profile"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption endpoint(QStringLiteral("endpoint"),
                                      QStringLiteral("The browser's DevTools address (loopback "
                                                     "only). Default: NIMBRIL_DEVTOOLS, the "
                                                     "known profiles' DevToolsActivePort, "
                                                     "127.0.0.1:9222."),
                                      QStringLiteral("HOST:PORT"));
    const QCommandLineOption scope(QStringLiteral("scope"),
                                   QStringLiteral("current (the page looked at last, default) or "
                                                  "all (every open page)."),
                                   QStringLiteral("current|all"), QStringLiteral("current"));
    const QCommandLineOption dest(QStringLiteral("dest"),
                                  QStringLiteral("Destination folder. Default: the kind's folder "
                                                 "of the collection named in Config.ini beside "
                                                 "this program (set up on first use)."),
                                  QStringLiteral("FOLDER"));
    const QCommandLineOption stats(QStringLiteral("stats"),
                                   QStringLiteral("Print how long the run took and how much of it "
                                                  "went to reading from the browser and to disk."));
    const QCommandLineOption route(
        QStringLiteral("route"),
        QStringLiteral("Where resource bytes come from: auto (the browser's disk cache first, "
                       "then the browser; default) or devtools (the browser only)."),
        QStringLiteral("auto|devtools"), QStringLiteral("auto"));
    const QCommandLineOption classic(
        QStringLiteral("classic"),
        QStringLiteral("Save pages the classic way: only pictures, embeds, movies, scripts, "
                       "links and background sound are saved and named in the copy (also the "
                       "default when Config.ini says so). Without it the copy takes along what "
                       "its style sheets, srcsets and media name, to look offline as it did "
                       "live."));
    const QCommandLineOption keepScripts(
        QStringLiteral("keep-scripts"),
        QStringLiteral("Saved pages keep their scripts running when opened (also the default "
                       "when Config.ini says so). Without it the scripts are saved but do not "
                       "run again, since the copy already holds what they built; classic copies "
                       "always keep them running."));
    parser.addOptions({endpoint, scope, dest, stats, route, classic, keepScripts});
    parser.addPositionalArgument(QStringLiteral("KIND"),
                                 QStringLiteral("page, photo, music, flash, text or email"));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const std::optional<CaptureKind> kindWord =
        args.size() == 1 ? CaptureKindFromWord(args[0]) : std::nullopt;
    const CaptureKind kind = kindWord.value_or(CaptureKind::WebPage);
    const QString scopeText = parser.value(scope);
    const QString routeText = parser.value(route);
    if (!kindWord || (scopeText != QLatin1String("current") && scopeText != QLatin1String("all")) ||
        (routeText != QLatin1String("auto") && routeText != QLatin1String("devtools"))) {
        err << "nimbril-capture: give one KIND (page, photo, music, flash, text, email), "
               "--scope current or all and --route auto or devtools; see --help."
            << Qt::endl;
        return 2;
    }

    Paths paths = Paths::ForProgram(ExecutableDir(), UserHomeDir());
    try {
        QString folder = parser.value(dest);
        if (folder.isEmpty()) {
            if (!Settings(paths.configFile()).exists())
                CreateDefaultCollection(paths, UserHomeDir());
            if (const QString notice = ReadCollectionDir(paths, UserHomeDir()); !notice.isEmpty())
                err << "nimbril-capture: " << notice << Qt::endl;
            folder = paths.collectionFolder(FolderOf(kind));
        }
        folder = QDir(folder).absolutePath();
        QDir().mkpath(folder);

        CdpEndpoint::Sources sources = CdpEndpoint::defaultSources();
        if (parser.isSet(endpoint))
            sources.override = parser.value(endpoint);
        ChromiumBrowser browser(sources);
        browser.setDiskCacheEnabled(routeText == QLatin1String("auto"));
        const std::unique_ptr<DesktopPlatform> desktop = ChooseWindowlessDesktop();
        browser.setWindowSystem(
            {[&desktop] { return desktop->topmostWindowCaption(BrowserWindowClasses()); },
             [&desktop] { return desktop->closeWindows(BrowserWindowClasses()); }});

        StderrDisplay page("page"), url("url"), file("file");
        CaptureRun engine(&browser);
        engine.classicPages = parser.isSet(classic) || Settings(paths.configFile()).classicPages();
        engine.keepScripts =
            parser.isSet(keepScripts) || Settings(paths.configFile()).keepScripts();
        engine.displays.page = &page;
        engine.displays.url = &url;
        engine.displays.file = &file;
        QElapsedTimer timer;
        timer.start();
        engine.capturePages(
            folder, scopeText == QLatin1String("all") ? Scope::AllPages : Scope::CurrentPage, kind);
        const qint64 total = timer.elapsed();
        if (kind == CaptureKind::EMail)
            for (const QString& address : std::as_const(engine.emails))
                out << address << Qt::endl;
        if (parser.isSet(stats)) {
            const FetchStats& s = browser.stats();
            err << "stats: total " << total << " ms; resource reads " << s.resourceReads << " ("
                << s.resourceBytes << " bytes), of them from the disk cache " << s.diskReads << " ("
                << s.diskBytes << " bytes) reading " << s.cacheMs << " ms; waiting for the browser "
                << s.protocolMs << " ms" << Qt::endl;
        }
        if (!engine.notSaved.isEmpty()) {
            err << "nimbril-capture: " << NotSavedText(engine.notSaved, int(engine.notSaved.size()))
                << Qt::endl;
            return 5;
        }
        if (scopeText == QLatin1String("current") && engine.pagesCaptured == 0) {
            err << "nimbril-capture: no current page was found: no web page of the browser has "
                   "its title in the caption of the browser window in front (\""
                << engine.frontWindowCaption() << "\")." << Qt::endl;
            return 4;
        }
        return 0;
    } catch (const BrowserUnreachableError& e) {
        err << e.text() << Qt::endl;
        return 3;
    } catch (const NimbrilError& e) {
        err << e.text() << Qt::endl;
        return 1;
    }
}
