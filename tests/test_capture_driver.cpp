// The capture driver: which pages a run visits, what it does to the total bar, how an error
// ends the run and how the live page is put back after a save.
#include "Errors.h"
#include "FakeBrowser.h"
#include "FolderBrowserCache.h"
#include "TestFiles.h"
#include "u_SaveIE.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

// Failure messages show texts as text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// A bar with the usual clamping that remembers every position the engine set.
class RecordingBar : public ProgressBar
{
public:
    int min() const override { return m_min; }
    int max() const override { return m_max; }
    int position() const override { return m_position; }
    void setMin(int value) override
    {
        m_min = value;
        m_position = qBound(m_min, m_position, qMax(m_min, m_max));
    }
    void setMax(int value) override
    {
        m_max = value;
        m_position = qBound(m_min, m_position, qMax(m_min, m_max));
    }
    void setPosition(int value) override
    {
        m_position = value > m_max ? m_max : (value < m_min ? m_min : value);
        positions.push_back(m_position);
    }
    std::vector<int> positions;

private:
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
};

// A text display that remembers every non-empty text it was given.
class RecordingDisplay : public PlainTextDisplay
{
public:
    void setText(const QString& text) override
    {
        PlainTextDisplay::setText(text);
        if (!text.isEmpty())
            shown << text;
    }
    QStringList shown;
};

// Positions 1..advances, then the final jump to max.
std::vector<int> advancedThenFull(int advances, int max)
{
    std::vector<int> out;
    for (int i = 1; i <= advances; ++i)
        out.push_back(i);
    out.push_back(max);
    return out;
}

class CaptureDriver : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        QDir().mkpath(dest);
        engine.PageLabel = &pageLabel;
        engine.UrlLabel = &urlLabel;
        engine.FileLabel = &fileLabel;
        engine.PageBar = &pageBar;
        engine.TotalBar = &totalBar;
    }

    // A browser window showing a page at http://h/<name>.htm.
    std::shared_ptr<FakeBrowserWindow> openPage(const QString& name, const QString& title)
    {
        return browser.addBrowserWindow(browser.newDocument(
            QStringLiteral("http://h/") + name + QStringLiteral(".htm"), title));
    }

    QTemporaryDir tmp;
    QString dest = tmp.filePath(QStringLiteral("WebPage"));
    FakeBrowser browser;
    FolderBrowserCache cache{tmp.filePath(QStringLiteral("cache"))};
    ScopedBrowserCache cacheInstalled{&cache};
    TSaveIE engine{&browser};
    RecordingDisplay pageLabel;
    RecordingDisplay urlLabel;
    RecordingDisplay fileLabel;
    PlainProgressBar pageBar;
    RecordingBar totalBar;
};

// ---- which page is the current one -----------------------------------------------------------

struct CurrentPageCase
{
    const char* what;
    QString caption;
    QStringList titles;
    quint8 scope;
    int captured; // index of the page captured, -1: none; ignored for all pages
};

class CurrentPage : public CaptureDriver, public ::testing::WithParamInterface<CurrentPageCase>
{};

TEST_P(CurrentPage, FirstPageInListOrderWhoseTitleIsInTheCaption)
{
    const CurrentPageCase c = GetParam();
    browser.setCaption(c.caption);
    QStringList urls;
    for (int i = 0; i < c.titles.size(); ++i) {
        openPage(QStringLiteral("p") + QString::number(i), c.titles[i]);
        urls << QStringLiteral("http://h/p") + QString::number(i) + QStringLiteral(".htm");
    }

    engine.CapturePages(dest, c.scope, ckWebPage);

    const int n = int(c.titles.size());
    if (c.scope == csAllPages) {
        EXPECT_EQ(urlLabel.shown, urls);
        EXPECT_EQ(totalBar.positions, advancedThenFull(n, n));
    } else if (c.captured < 0) {
        EXPECT_EQ(urlLabel.shown, QStringList());
        EXPECT_EQ(filesBelow(dest), QStringList());
        EXPECT_EQ(totalBar.positions, advancedThenFull(n, n));
    } else {
        EXPECT_EQ(urlLabel.shown, QStringList{urls[c.captured]});
        // The loop is left at the captured page without advancing for it.
        EXPECT_EQ(totalBar.positions, advancedThenFull(c.captured, n));
    }
    EXPECT_EQ(totalBar.position(), totalBar.max());
    EXPECT_EQ(totalBar.max(), n);
}

const QString kLong = QString(250, u'x');

INSTANTIATE_TEST_SUITE_P(
    Examples, CurrentPage,
    ::testing::Values(
        CurrentPageCase{
            "bothMatchFirstWins", "Daily News - Chromium", {"News", "Daily News"}, 1, 0},
        CurrentPageCase{
            "bothMatchOtherOrder", "Daily News - Chromium", {"Daily News", "News"}, 1, 0},
        CurrentPageCase{"laterPageMatches", "Daily News - Chromium", {"Sport", "Daily News"}, 1, 1},
        CurrentPageCase{
            "substringInsideTheCaption", "Daily News - Chromium", {"Sport", "ily N"}, 1, 1},
        CurrentPageCase{"caseSensitive", "News - Chromium", {"news"}, 1, -1},
        CurrentPageCase{"emptyTitleNeverMatches", "News - Chromium", {"", "News"}, 1, 1},
        CurrentPageCase{"emptyTitleAndNothingElse", "News - Chromium", {""}, 1, -1},
        CurrentPageCase{"noBrowserCaption", "", {"News"}, 1, -1},
        CurrentPageCase{"noTitleInCaption", "Weather - Chromium", {"News", "Sport"}, 1, -1},
        CurrentPageCase{
            "anyNonZeroScopeIsCurrent", "Daily News - Chromium", {"Sport", "News"}, 2, 1},
        CurrentPageCase{"captionWithinFirst254", kLong + "Tail - Chromium", {"Tail"}, 1, 0},
        CurrentPageCase{"captionBeyond254Ignored", kLong + "Tail - Chromium", {"Tail -"}, 1, -1},
        CurrentPageCase{"allPagesIgnoresCaption", "", {"News", "", "Sport"}, csAllPages, -1}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- window-list entries and the total bar ---------------------------------------------------

struct EntryCase
{
    const char* what;
    std::function<void(FakeBrowser&)> add;
    bool advances;
};

class WindowEntry : public CaptureDriver, public ::testing::WithParamInterface<EntryCase>
{};

TEST_P(WindowEntry, IsSkippedAndAdvancesTheTotalBarOrNot)
{
    const EntryCase c = GetParam();
    c.add(browser);
    openPage(QStringLiteral("news"), QStringLiteral("News"));

    engine.CapturePages(dest, csAllPages, ckWebPage);

    EXPECT_EQ(urlLabel.shown, QStringList{QStringLiteral("http://h/news.htm")});
    EXPECT_TRUE(QFileInfo::exists(dest + QStringLiteral("/News.htm")));
    EXPECT_EQ(totalBar.max(), 2);
    EXPECT_EQ(totalBar.positions, advancedThenFull(c.advances ? 2 : 1, 2));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, WindowEntry,
    ::testing::Values(
        EntryCase{"noBrowser", [](FakeBrowser& b) { b.addOtherWindow(); }, true},
        EntryCase{"nullEntry", [](FakeBrowser& b) { b.addNullEntry(); }, true},
        EntryCase{
            "notABrowserWhenAsked",
            [](FakeBrowser& b) {
                b.addBrowserWindow(b.newDocument("http://h/x.htm", "X"));
                std::static_pointer_cast<FakeShellWindow>(b.entries().back())->nullOn("asBrowser");
            },
            true},
        EntryCase{"browserWithoutDocument", [](FakeBrowser& b) { b.addBrowserWindow(); }, false},
        EntryCase{
            "nonHtmlDocument",
            [](FakeBrowser& b) {
                b.addBrowserWindow(b.newDocument("http://h/doc.pdf", "doc.pdf"))->setHtml(false);
            },
            true}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(CaptureDriver, EmptyWindowListGivesTheTotalBarRangeZeroToZero)
{
    totalBar.setMax(100);
    totalBar.setPosition(40);
    engine.CapturePages(dest, csAllPages, ckWebPage);
    EXPECT_EQ(totalBar.min(), 0);
    EXPECT_EQ(totalBar.max(), 0);
    EXPECT_EQ(totalBar.position(), 0);
    EXPECT_EQ(filesBelow(dest), QStringList());
}

TEST_F(CaptureDriver, RunsWithoutAnyDisplayAttached)
{
    engine.PageLabel = engine.UrlLabel = engine.FileLabel = nullptr;
    engine.PageBar = engine.TotalBar = nullptr;
    openPage(QStringLiteral("news"), QStringLiteral("News"))
        ->document()
        ->addToBody("IMG", {{"src", "x.gif"}});
    cache.add(QStringLiteral("http://h/x.gif"), "GIF");
    browser.setCaption(QStringLiteral("News - Chromium"));
    EXPECT_NO_THROW(engine.CapturePages(dest, csCurrentPage, ckWebPage));
    EXPECT_EQ(filesBelow(dest),
              QStringList({"News.files/url.ini", "News.files/x.gif", "News.htm"}));
}

TEST_F(CaptureDriver, NoBrowserIsToldApartFromAFailingOne)
{
    TSaveIE alone(nullptr);
    EXPECT_THROW(alone.CapturePages(dest, csAllPages, ckWebPage), BrowserUnreachableError);
}

// ---- an error ends the run -------------------------------------------------------------------

TEST_F(CaptureDriver, ErrorOnTheThirdOfFivePagesEndsTheRunAndPutsThatPageBack)
{
    std::vector<std::shared_ptr<FakeBrowserWindow>> windows;
    for (int i = 1; i <= 5; ++i) {
        const QString n = QString::number(i);
        windows.push_back(openPage(QStringLiteral("p") + n, QStringLiteral("Page ") + n));
        windows.back()->document()->addToBody("IMG", {{"src", "i" + n + ".gif"}});
        windows.back()->document()->addToBody("SCRIPT", {{"src", "s" + n + ".js"}});
        cache.add(QStringLiteral("http://h/i") + n + QStringLiteral(".gif"), "GIF" + n.toUtf8());
        cache.add(QStringLiteral("http://h/s") + n + QStringLiteral(".js"), "JS" + n.toUtf8());
    }
    const FakeDocumentPtr third = windows[2]->document();
    const QString thirdBefore = third->html();
    // The images of the third page are rewritten before its scripts fail.
    third->failOn("scripts");

    try {
        engine.CapturePages(dest, csAllPages, ckWebPage);
        FAIL() << "the run should have failed";
    } catch (const SafecallError& e) {
        EXPECT_EQ(e.text(), "Exception in safecall method");
    }

    EXPECT_TRUE(QFileInfo::exists(dest + QStringLiteral("/Page 1.htm")));
    EXPECT_TRUE(QFileInfo::exists(dest + QStringLiteral("/Page 2.htm")));
    for (const char* absent :
         {"Page 3.htm", "Page 4.htm", "Page 4.files", "Page 5.htm", "Page 5.files"})
        EXPECT_FALSE(QFileInfo::exists(dest + u'/' + QLatin1String(absent))) << absent;
    EXPECT_EQ(urlLabel.shown,
              QStringList({"http://h/p1.htm", "http://h/p2.htm", "http://h/p3.htm"}));

    EXPECT_EQ(third->html(), thirdBefore);
    EXPECT_EQ(third->pendingWrites(), 0);
    std::vector<int> refreshes;
    for (const auto& w : windows)
        refreshes.push_back(w->refreshCount());
    EXPECT_EQ(refreshes, std::vector<int>({1, 1, 1, 0, 0}));
    EXPECT_FALSE(windows[2]->isOffline());

    EXPECT_EQ(totalBar.positions, advancedThenFull(2, 5));
    EXPECT_EQ(pageBar.position(), pageBar.max());
}

TEST_F(CaptureDriver, ErrorWhileHarvestingEndsTheRunWithoutAReload)
{
    auto first = openPage(QStringLiteral("a"), QStringLiteral("A"));
    auto second = openPage(QStringLiteral("b"), QStringLiteral("B"));
    first->document()->failOn("images");
    EXPECT_THROW(engine.CapturePages(dest, csAllPages, ckPhoto), SafecallError);
    EXPECT_EQ(urlLabel.shown, QStringList{QStringLiteral("http://h/a.htm")});
    EXPECT_EQ(first->refreshCount() + second->refreshCount(), 0);
    EXPECT_EQ(totalBar.positions, advancedThenFull(0, 2));
}

// ---- putting the live page back --------------------------------------------------------------

class ReloadAfterSave : public CaptureDriver, public ::testing::WithParamInterface<bool>
{};

TEST_P(ReloadAfterSave, RefreshesWhileOfflineAndRestoresTheFlag)
{
    const bool wasOffline = GetParam();
    auto window = openPage(QStringLiteral("news"), QStringLiteral("News"));
    window->setOfflineState(wasOffline);
    const FakeDocumentPtr doc = window->document();
    doc->addToBody("IMG", {{"src", "img/x.gif"}});
    auto menu = browser.newDocument(QStringLiteral("http://h/menu.htm"), QStringLiteral("Menu"));
    menu->addToBody("IMG", {{"src", "m.gif"}});
    doc->addFrame(QStringLiteral("menu"), menu, QStringLiteral("menu.htm"));
    cache.add(QStringLiteral("http://h/img/x.gif"), "X");
    cache.add(QStringLiteral("http://h/m.gif"), "M");
    const QString before = doc->html();
    const QString menuBefore = menu->html();

    engine.CapturePages(dest, csAllPages, ckWebPage);

    EXPECT_EQ(window->refreshOfflineStates(), std::vector<bool>{true});
    EXPECT_EQ(window->isOffline(), wasOffline);
    EXPECT_EQ(doc->html(), before);
    EXPECT_EQ(menu->html(), menuBefore);
    QFile saved(dest + QStringLiteral("/News.htm"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("src=\"News.files/img/x.gif\""));
}

INSTANTIATE_TEST_SUITE_P(OfflineBefore, ReloadAfterSave, ::testing::Bool());

TEST_F(CaptureDriver, PageThatIsNotSavedIsStillReloadedButHarvestsAreNot)
{
    auto blank = browser.addBrowserWindow(browser.newDocument(QStringLiteral("about:blank")));
    engine.CapturePages(dest, csAllPages, ckWebPage);
    EXPECT_EQ(blank->refreshCount(), 1);

    for (quint8 kind : {ckPhoto, ckMusic, ckFlash, ckText, ckEMail}) {
        auto page = openPage(QStringLiteral("k") + QString::number(kind), QStringLiteral("K"));
        engine.CapturePages(dest, csAllPages, kind);
        EXPECT_EQ(page->refreshCount(), 0) << int(kind);
    }
}

// ---- pages that are no web pages -------------------------------------------------------------

struct NonWebCase
{
    const char* url;
    quint8 kind;
};

class NonWebPage : public CaptureDriver, public ::testing::WithParamInterface<NonWebCase>
{};

TEST_P(NonWebPage, YieldsNothingAndLeavesTheProgressDisplaysAlone)
{
    const NonWebCase c = GetParam();
    auto window = browser.addBrowserWindow(browser.newDocument(c.url, QStringLiteral("Local")));
    const FakeDocumentPtr doc = window->document();
    doc->addToBody("IMG", {{"src", "http://h/x.gif"}});
    doc->addToBody("A", {{"href", "mailto:a@b.org"}});
    doc->addFrame(QStringLiteral("f"),
                  browser.newDocument(QStringLiteral("http://h/f.htm"), QStringLiteral("F")),
                  QStringLiteral("http://h/f.htm"));
    cache.add(QStringLiteral("http://h/x.gif"), "X");
    pageLabel.setText(QStringLiteral("earlier page"));
    urlLabel.setText(QStringLiteral("http://earlier/"));
    fileLabel.setText(QStringLiteral("http://earlier/x.gif"));
    pageBar.setPosition(42);
    const QString before = doc->html();

    engine.CapturePages(dest, csAllPages, c.kind);

    EXPECT_EQ(pageLabel.text(), "earlier page");
    EXPECT_EQ(urlLabel.text(), "http://earlier/");
    EXPECT_EQ(fileLabel.text(), "http://earlier/x.gif");
    EXPECT_EQ(pageBar.position(), 42);
    EXPECT_EQ(filesBelow(dest), QStringList());
    EXPECT_TRUE(engine.EMails.isEmpty());
    EXPECT_EQ(doc->html(), before);
    EXPECT_EQ(totalBar.position(), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NonWebPage,
                         ::testing::Values(NonWebCase{"about:blank", ckWebPage},
                                           NonWebCase{"about:blank", ckPhoto},
                                           NonWebCase{"about:blank", ckText},
                                           NonWebCase{"about:blank", ckEMail},
                                           NonWebCase{"file:///home/u/page.htm", ckWebPage},
                                           NonWebCase{"file:///home/u/page.htm", ckMusic},
                                           NonWebCase{"file:///home/u/page.htm", ckFlash},
                                           NonWebCase{"file:///home/u/page.htm", ckText},
                                           NonWebCase{"file:///home/u/page.htm", ckEMail}));

// ---- progress calls --------------------------------------------------------------------------

TEST_F(CaptureDriver, BeginPageClearsThenShowsTitleAndUrlRepaintedAtOnce)
{
    fileLabel.setText(QStringLiteral("http://h/old.gif"));
    pageBar.setPosition(37);
    engine.BeginPage(QStringLiteral("http://h/news.htm"), QStringLiteral("News"));
    EXPECT_EQ(pageLabel.text(), "News");
    EXPECT_EQ(urlLabel.text(), "http://h/news.htm");
    EXPECT_EQ(fileLabel.text(), "");
    EXPECT_EQ(pageBar.position(), 0);
    EXPECT_EQ(pageLabel.repaints(), 1);
    EXPECT_EQ(urlLabel.repaints(), 1);

    engine.ShowFile(QStringLiteral("http://h/a.gif"));
    engine.ShowFile(QStringLiteral("http://h/b.gif"));
    EXPECT_EQ(fileLabel.text(), "http://h/b.gif");
    EXPECT_EQ(pageBar.position(), 2);
    engine.EndPage();
    EXPECT_EQ(pageBar.position(), 100);
}

} // namespace
