// The capture driver: which pages a run visits, what it does to the total bar, how an error
// ends the run, and that the live page stays as it was.
#include "CaptureRun.h"
#include "Errors.h"
#include "FakeBrowser.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
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
        engine.displays.page = &pageLabel;
        engine.displays.url = &urlLabel;
        engine.displays.file = &fileLabel;
        engine.displays.pageBar = &pageBar;
        engine.displays.totalBar = &totalBar;
    }

    // A new page at http://h/<name>.htm.
    FakeDocumentPtr openPage(const QString& name, const QString& title)
    {
        const FakeDocumentPtr doc =
            browser.newDocument(QStringLiteral("http://h/") + name + QStringLiteral(".htm"), title);
        browser.addPage(doc);
        return doc;
    }

    void run(Scope scope, CaptureKind kind) { engine.capturePages(dest, scope, kind); }
    QString savedHtml(const QString& rel) const
    {
        return QString::fromUtf8(readFile(dest + u'/' + rel));
    }

    QTemporaryDir tmp;
    QString dest = tmp.filePath(QStringLiteral("WebPage"));
    FakeBrowser browser;
    CaptureRun engine{&browser};
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
    Scope scope;
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

    run(c.scope, CaptureKind::WebPage);

    const int n = int(c.titles.size());
    if (c.scope == Scope::AllPages) {
        EXPECT_EQ(urlLabel.shown, urls);
        EXPECT_EQ(totalBar.positions, advancedThenFull(n, n));
    } else if (c.captured < 0) {
        EXPECT_EQ(urlLabel.shown, QStringList());
        EXPECT_EQ(filesBelow(dest), QStringList());
        EXPECT_EQ(totalBar.positions, advancedThenFull(n, n));
        EXPECT_EQ(browser.calls("snapshot"), 0);
    } else {
        EXPECT_EQ(urlLabel.shown, QStringList{urls[c.captured]});
        // The loop is left at the captured page without advancing for it.
        EXPECT_EQ(totalBar.positions, advancedThenFull(c.captured, n));
        // Only the page that matches is read whole.
        EXPECT_EQ(browser.calls("snapshot"), 1);
    }
    EXPECT_EQ(totalBar.position(), totalBar.max());
    EXPECT_EQ(totalBar.max(), n);
}

const QString kLong = QString(250, u'x');
constexpr Scope kCurrent = Scope::CurrentPage;

INSTANTIATE_TEST_SUITE_P(
    Examples, CurrentPage,
    ::testing::Values(
        CurrentPageCase{
            "bothMatchFirstWins", "Daily News - Chromium", {"News", "Daily News"}, kCurrent, 0},
        CurrentPageCase{
            "bothMatchOtherOrder", "Daily News - Chromium", {"Daily News", "News"}, kCurrent, 0},
        CurrentPageCase{
            "laterPageMatches", "Daily News - Chromium", {"Sport", "Daily News"}, kCurrent, 1},
        CurrentPageCase{
            "substringInsideTheCaption", "Daily News - Chromium", {"Sport", "ily N"}, kCurrent, 1},
        CurrentPageCase{"caseSensitive", "News - Chromium", {"news"}, kCurrent, -1},
        CurrentPageCase{"emptyTitleNeverMatches", "News - Chromium", {"", "News"}, kCurrent, 1},
        CurrentPageCase{"emptyTitleAndNothingElse", "News - Chromium", {""}, kCurrent, -1},
        CurrentPageCase{"noBrowserCaption", "", {"News"}, kCurrent, -1},
        CurrentPageCase{"noTitleInCaption", "Weather - Chromium", {"News", "Sport"}, kCurrent, -1},
        CurrentPageCase{"captionWithinFirst254", kLong + "Tail - Chromium", {"Tail"}, kCurrent, 0},
        CurrentPageCase{
            "captionBeyond254Ignored", kLong + "Tail - Chromium", {"Tail -"}, kCurrent, -1},
        CurrentPageCase{"allPagesIgnoresCaption", "", {"News", "", "Sport"}, Scope::AllPages, -1}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- the page list and the total bar ---------------------------------------------------------

TEST_F(CaptureDriver, PagesWithoutAnHtmlDocumentAreSkippedButCounted)
{
    browser.addPage(browser.newDocument(QStringLiteral("http://h/doc.pdf"), "doc.pdf")).html =
        false;
    browser.addPage(nullptr);
    openPage(QStringLiteral("news"), QStringLiteral("News"));

    run(Scope::AllPages, CaptureKind::WebPage);

    EXPECT_EQ(urlLabel.shown, QStringList{QStringLiteral("http://h/news.htm")});
    EXPECT_EQ(filesBelow(dest), QStringList({"News.files/url.ini", "News.htm"}));
    EXPECT_EQ(totalBar.positions, advancedThenFull(3, 3));
}

TEST_F(CaptureDriver, EmptyPageListGivesTheTotalBarRangeZeroToZero)
{
    totalBar.setMax(100);
    totalBar.setPosition(40);
    run(Scope::AllPages, CaptureKind::WebPage);
    EXPECT_EQ(totalBar.min(), 0);
    EXPECT_EQ(totalBar.max(), 0);
    EXPECT_EQ(totalBar.position(), 0);
    EXPECT_EQ(filesBelow(dest), QStringList());
}

TEST_F(CaptureDriver, RunsWithoutAnyDisplayAttached)
{
    engine.displays = CaptureDisplays();
    openPage(QStringLiteral("news"), QStringLiteral("News"))->addToBody("IMG", {{"src", "x.gif"}});
    browser.hold(QStringLiteral("http://h/x.gif"), "GIF");
    browser.setCaption(QStringLiteral("News - Chromium"));
    EXPECT_NO_THROW(run(Scope::CurrentPage, CaptureKind::WebPage));
    EXPECT_EQ(filesBelow(dest),
              QStringList({"News.files/url.ini", "News.files/x.gif", "News.htm"}));
}

TEST_F(CaptureDriver, NoBrowserIsToldApartFromAFailingOne)
{
    CaptureRun alone(nullptr);
    EXPECT_THROW(alone.capturePages(dest, Scope::AllPages, CaptureKind::WebPage),
                 BrowserUnreachableError);
    EXPECT_EQ(alone.frontWindowCaption(), "");
    EXPECT_NO_THROW(alone.closeAllBrowserWindows());
}

// ---- an error ends the run -------------------------------------------------------------------

struct FailureCase
{
    const char* what;
    const char* operation; // fails from its call after `successes` onwards
    int successes;
    int pagesBegun;
};

class ErrorOnTheThirdOfFivePages : public CaptureDriver,
                                   public ::testing::WithParamInterface<FailureCase>
{};

TEST_P(ErrorOnTheThirdOfFivePages, EndsTheRunAndLeavesThatPageAlone)
{
    const FailureCase c = GetParam();
    std::vector<FakeDocumentPtr> docs;
    QStringList urls;
    for (int i = 1; i <= 5; ++i) {
        const QString n = QString::number(i);
        docs.push_back(openPage(QStringLiteral("p") + n, QStringLiteral("Page ") + n));
        docs.back()->addToBody("IMG", {{"src", "i" + n + ".gif"}});
        docs.back()->addToBody("SCRIPT", {{"src", "s" + n + ".js"}});
        browser.hold(QStringLiteral("http://h/i") + n + QStringLiteral(".gif"), "GIF" + n.toUtf8());
        browser.hold(QStringLiteral("http://h/s") + n + QStringLiteral(".js"), "JS" + n.toUtf8());
        urls << docs.back()->url();
    }
    const QString thirdBefore = docs[2]->html();
    browser.failAfter(QLatin1String(c.operation), c.successes);

    try {
        run(Scope::AllPages, CaptureKind::WebPage);
        FAIL() << "the run should have failed";
    } catch (const SafecallError& e) {
        EXPECT_EQ(e.text(), "Exception in safecall method");
    }

    EXPECT_TRUE(savedHtml("Page 1.htm").contains("src=\"Page 1.files/i1.gif\""));
    EXPECT_TRUE(savedHtml("Page 2.htm").contains("src=\"Page 2.files/s2.js\""));
    for (const char* absent :
         {"Page 3.htm", "Page 4.htm", "Page 4.files", "Page 5.htm", "Page 5.files"})
        EXPECT_FALSE(QFileInfo::exists(dest + u'/' + QLatin1String(absent))) << absent;
    EXPECT_EQ(urlLabel.shown, urls.mid(0, c.pagesBegun));
    EXPECT_EQ(docs[2]->html(), thirdBefore);
    EXPECT_EQ(totalBar.positions, advancedThenFull(2, 5));
    EXPECT_EQ(pageBar.position(), pageBar.max());
}

// Each page's save fetches twice: its picture, then its script.
INSTANTIATE_TEST_SUITE_P(Failures, ErrorOnTheThirdOfFivePages,
                         ::testing::Values(FailureCase{"pageCannotBeRead", "snapshot", 2, 2},
                                           FailureCase{"scriptCannotBeFetched", "fetch", 5, 3}),
                         [](const auto& info) { return std::string(info.param.what); });

struct SilentCase
{
    const char* what;
    const char* operation; // the call that gets no answer, once
    int successes;         // calls answered before it
    int silentPage;        // the page it belongs to
};

class APageThatDoesNotAnswer : public CaptureDriver,
                               public ::testing::WithParamInterface<SilentCase>
{};

// A page busy in a script of its own gives no answer: it is skipped and named, the others are
// captured; a browser that answers with an error still ends the run (above). A page's file is
// written while the next page's files are, so a copy that gets no answer then is still that
// page's own failure.
TEST_P(APageThatDoesNotAnswer, IsSkippedAndNamedTheOthersAreSaved)
{
    const SilentCase c = GetParam();
    for (int i = 1; i <= 3; ++i) {
        const QString n = QString::number(i);
        openPage(QStringLiteral("p") + n, QStringLiteral("Page ") + n)
            ->addToBody("IMG", {{"src", "i" + n + ".gif"}});
        browser.hold(QStringLiteral("http://h/i") + n + QStringLiteral(".gif"), "GIF" + n.toUtf8());
    }
    browser.stopAnswering(QLatin1String(c.operation), c.successes, 1);
    run(Scope::AllPages, CaptureKind::WebPage);
    for (int i = 1; i <= 3; ++i) {
        const QString n = QString::number(i);
        if (i == c.silentPage)
            EXPECT_FALSE(QFileInfo::exists(dest + "/Page " + n + ".htm"));
        else
            EXPECT_TRUE(savedHtml("Page " + n + ".htm")
                            .contains("src=\"Page " + n + ".files/i" + n + ".gif\""));
    }
    const QString n = QString::number(c.silentPage);
    EXPECT_EQ(Texts(engine.notSaved), QStringList({"http://h/p" + n + ".htm: the page \"Page " + n +
                                                   "\" did not answer and was skipped"}));
    EXPECT_EQ(totalBar.position(), 3);
}

INSTANTIATE_TEST_SUITE_P(Calls, APageThatDoesNotAnswer,
                         ::testing::Values(SilentCase{"itsDocument", "snapshot", 1, 2},
                                           SilentCase{"itsCopy", "serialize", 0, 1}),
                         [](const auto& info) { return std::string(info.param.what); });

// Cancel pressed while a page's files are written: the files handed out before are finished and
// no other is; the page file is written with what was saved, naming the rest by their web
// addresses, and no page follows.
TEST_F(CaptureDriver, AStopBetweenFilesFinishesThePageWithWhatItHas)
{
    const FakeDocumentPtr news = openPage(QStringLiteral("news"), QStringLiteral("News"));
    for (const QString n : {"a", "b", "c"}) {
        news->addToBody("IMG", {{"src", n + ".gif"}});
        browser.hold("http://h/" + n + ".gif", "GIF " + n.toUtf8());
    }
    openPage(QStringLiteral("later"), QStringLiteral("Later"))
        ->addToBody("IMG", {{"src", "l.gif"}});
    browser.hold("http://h/l.gif", "GIF l");
    // Pressed as the browser hands out b.gif.
    engine.displays.stopRequested = [this] {
        return browser.fetchedUrls().contains("http://h/b.gif");
    };

    EXPECT_THROW(run(Scope::AllPages, CaptureKind::WebPage), CaptureStopped);
    EXPECT_EQ(filesBelow(dest),
              QStringList({"News.files/a.gif", "News.files/url.ini", "News.htm"}));
    const QString html = savedHtml("News.htm");
    EXPECT_TRUE(html.contains("src=\"News.files/a.gif\"")) << html.toStdString();
    EXPECT_TRUE(html.contains("src=\"http://h/b.gif\"")) << html.toStdString();
    EXPECT_TRUE(html.contains("src=\"http://h/c.gif\"")) << html.toStdString();
    EXPECT_EQ(Texts(engine.notSaved), QStringList()) << "what the stop left is no failure";
    EXPECT_EQ(engine.pagesCaptured, 1);
}

TEST_F(CaptureDriver, ErrorWhileHarvestingEndsTheRun)
{
    openPage(QStringLiteral("a"), QStringLiteral("A"))->addToBody("IMG", {{"src", "a.gif"}});
    openPage(QStringLiteral("b"), QStringLiteral("B"))->addToBody("IMG", {{"src", "b.gif"}});
    browser.failAfter(QStringLiteral("fetch"), 0);
    EXPECT_THROW(run(Scope::AllPages, CaptureKind::Photo), SafecallError);
    EXPECT_EQ(urlLabel.shown, QStringList{QStringLiteral("http://h/a.htm")});
    EXPECT_EQ(totalBar.positions, advancedThenFull(0, 2));
}

// ---- the live page ---------------------------------------------------------------------------

TEST_F(CaptureDriver, SavingLeavesTheLivePageAndItsFramesAsTheyWere)
{
    const FakeDocumentPtr doc = openPage(QStringLiteral("news"), QStringLiteral("News"));
    doc->addToBody("IMG", {{"src", "img/x.gif"}});
    const FakeDocumentPtr menu =
        browser.newDocument(QStringLiteral("http://h/menu.htm"), QStringLiteral("Menu"));
    menu->addToBody("IMG", {{"src", "m.gif"}});
    doc->addFrame(QStringLiteral("menu"), menu, QStringLiteral("menu.htm"));
    browser.hold(QStringLiteral("http://h/img/x.gif"), "X");
    browser.hold(QStringLiteral("http://h/m.gif"), "M");
    const QString before = doc->html();
    const QString menuBefore = menu->html();

    run(Scope::AllPages, CaptureKind::WebPage);

    EXPECT_EQ(doc->html(), before);
    EXPECT_EQ(menu->html(), menuBefore);
    const QString html = savedHtml(QStringLiteral("News.htm"));
    EXPECT_TRUE(html.contains("src=\"News.files/img/x.gif\"")) << html.toStdString();
    EXPECT_TRUE(html.contains("src=\"News.files/Menu.htm\"")) << html.toStdString();
    EXPECT_TRUE(
        savedHtml(QStringLiteral("News.files/Menu.htm")).contains("src=\"Menu.files/m.gif\""));
}

// ---- pages that are no web pages -------------------------------------------------------------

struct NonWebCase
{
    const char* url;
    CaptureKind kind;
};

class NonWebPage : public CaptureDriver, public ::testing::WithParamInterface<NonWebCase>
{};

TEST_P(NonWebPage, YieldsNothingAndLeavesTheProgressDisplaysAlone)
{
    const NonWebCase c = GetParam();
    const FakeDocumentPtr doc = browser.newDocument(c.url, QStringLiteral("Local"));
    browser.addPage(doc);
    doc->addToBody("IMG", {{"src", "http://h/x.gif"}});
    doc->addToBody("A", {{"href", "mailto:a@b.org"}});
    doc->addFrame(QStringLiteral("f"),
                  browser.newDocument(QStringLiteral("http://h/f.htm"), QStringLiteral("F")),
                  QStringLiteral("http://h/f.htm"));
    browser.hold(QStringLiteral("http://h/x.gif"), "X");
    pageLabel.setText(QStringLiteral("earlier page"));
    urlLabel.setText(QStringLiteral("http://earlier/"));
    fileLabel.setText(QStringLiteral("http://earlier/x.gif"));
    pageBar.setPosition(42);

    run(Scope::AllPages, c.kind);

    EXPECT_EQ(pageLabel.text(), "earlier page");
    EXPECT_EQ(urlLabel.text(), "http://earlier/");
    EXPECT_EQ(fileLabel.text(), "http://earlier/x.gif");
    EXPECT_EQ(pageBar.position(), 42);
    EXPECT_EQ(filesBelow(dest), QStringList());
    EXPECT_TRUE(engine.emails.isEmpty());
    EXPECT_EQ(totalBar.position(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NonWebPage,
    ::testing::Values(NonWebCase{"about:blank", CaptureKind::WebPage},
                      NonWebCase{"about:blank", CaptureKind::Photo},
                      NonWebCase{"about:blank", CaptureKind::Text},
                      NonWebCase{"about:blank", CaptureKind::EMail},
                      NonWebCase{"file:///home/u/page.htm", CaptureKind::WebPage},
                      NonWebCase{"file:///home/u/page.htm", CaptureKind::Music},
                      NonWebCase{"file:///home/u/page.htm", CaptureKind::Flash},
                      NonWebCase{"file:///home/u/page.htm", CaptureKind::Text},
                      NonWebCase{"file:///home/u/page.htm", CaptureKind::EMail}));

// ---- progress calls --------------------------------------------------------------------------

TEST_F(CaptureDriver, BeginPageClearsThenShowsTitleAndUrlRepaintedAtOnce)
{
    fileLabel.setText(QStringLiteral("http://h/old.gif"));
    pageBar.setPosition(37);
    engine.displays.beginPage(QStringLiteral("http://h/news.htm"), QStringLiteral("News"));
    EXPECT_EQ(pageLabel.text(), "News");
    EXPECT_EQ(urlLabel.text(), "http://h/news.htm");
    EXPECT_EQ(fileLabel.text(), "");
    EXPECT_EQ(pageBar.position(), 0);
    EXPECT_EQ(pageLabel.repaints(), 1);
    EXPECT_EQ(urlLabel.repaints(), 1);

    engine.displays.showFile(QStringLiteral("http://h/a.gif"));
    engine.displays.showFile(QStringLiteral("http://h/b.gif"));
    EXPECT_EQ(fileLabel.text(), "http://h/b.gif");
    EXPECT_EQ(pageBar.position(), 2);
    engine.displays.endPage();
    EXPECT_EQ(pageBar.position(), 100);
}

} // namespace
