// The content harvesters: flat copies of photos, music and movies, page text files and e-mail
// addresses, over pages and their frames.
#include "Errors.h"
#include "FakeBrowser.h"
#include "FolderBrowserCache.h"
#include "TestFiles.h"
#include "u_SaveIE.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <vector>

// Failure messages show texts as text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

bool matches(const QString& pattern, const QString& text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

class Harvest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        QDir().mkpath(folder);
        engine.PageLabel = &pageLabel;
        engine.UrlLabel = &urlLabel;
        engine.FileLabel = &fileLabel;
        engine.PageBar = &pageBar;
        engine.TotalBar = &totalBar;
    }

    FakeDocumentPtr openPage(const QString& url, const QString& title)
    {
        const FakeDocumentPtr doc = browser.newDocument(url, title);
        windows.push_back(browser.addBrowserWindow(doc));
        return doc;
    }

    void run(quint8 kind) { engine.CapturePages(folder, csAllPages, kind); }
    QByteArray harvested(const QString& name) const { return readFile(folder + u'/' + name); }

    QTemporaryDir tmp;
    QString folder = tmp.filePath(QStringLiteral("coll/Harvest"));
    FakeBrowser browser;
    std::vector<std::shared_ptr<FakeBrowserWindow>> windows;
    FolderBrowserCache cache{tmp.filePath(QStringLiteral("cache"))};
    ScopedBrowserCache cacheInstalled{&cache};
    TSaveIE engine{&browser};
    PlainTextDisplay pageLabel;
    PlainTextDisplay urlLabel;
    PlainTextDisplay fileLabel;
    PlainProgressBar pageBar;
    PlainProgressBar totalBar;
};

// ---- photos, music, movies -------------------------------------------------------------------

// A page with one resource of every sort, most of them cached, and a frame with more.
class MediaHarvest : public Harvest
{
protected:
    void SetUp() override
    {
        Harvest::SetUp();
        page = openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("Gallery"));
        page->addToHead("SCRIPT", {{"src", "js/app.js"}});
        page->addToHead("LINK", {{"rel", "stylesheet"}, {"href", "s.css"}});
        page->addToBody("IMG", {{"src", "img/a.gif"}});
        page->addToBody("IMG", {{"src", "img/not-cached.gif"}});
        page->addToBody("EMBED", {{"src", "media/song.mid"}});
        page->addToBody("EMBED", {{"type", "audio/midi"}}); // no address: not the page itself
        page->addToBody("BGSOUND", {{"src", "snd/bg1.wav"}});
        page->addToBody("BGSOUND", {{"src", "snd/bg2.wav"}});
        page->addToBody("OBJECT")->setMovie(QStringLiteral("flash/intro.swf"));
        page->addToBody("A", {{"href", "mailto:a@x.org"}});

        frame = browser.newDocument(QStringLiteral("http://h/d/f.htm"), QStringLiteral("Frame"));
        frame->addToBody("IMG", {{"src", "http://cdn/f.png"}});
        frame->addToBody("EMBED", {{"src", "f.mp3"}});
        frame->addToBody("OBJECT")->setMovie(QStringLiteral("http://cdn/f.swf"));
        page->addFrame(QStringLiteral("f"), frame, QStringLiteral("f.htm"));

        cache.add(QStringLiteral("http://h/d/p.htm"), "<HTML>", QStringLiteral("p.htm"));
        cache.add(QStringLiteral("http://h/d/js/app.js"), "JS");
        cache.add(QStringLiteral("http://h/d/s.css"), "CSS");
        cache.add(QStringLiteral("http://h/d/img/a.gif"), "GIF-A", QStringLiteral("a[1].gif"));
        cache.add(QStringLiteral("http://h/d/media/song.mid"), "MID");
        cache.add(QStringLiteral("http://h/d/snd/bg1.wav"), "WAV1");
        cache.add(QStringLiteral("http://h/d/snd/bg2.wav"), "WAV2");
        cache.add(QStringLiteral("http://h/d/flash/intro.swf"), "SWF");
        cache.add(QStringLiteral("http://cdn/f.png"), "PNG");
        cache.add(QStringLiteral("http://h/d/f.mp3"), "MP3");
        cache.add(QStringLiteral("http://cdn/f.swf"), "FSWF");
        pageBefore = page->html();
        frameBefore = frame->html();
    }

    FakeDocumentPtr page;
    FakeDocumentPtr frame;
    QString pageBefore;
    QString frameBefore;
};

struct MediaCase
{
    quint8 kind;
    QStringList files;
};

class MediaKind : public MediaHarvest, public ::testing::WithParamInterface<MediaCase>
{};

TEST_P(MediaKind, CopiesTheCachedFilesFlatAndLeavesThePageAlone)
{
    const MediaCase c = GetParam();
    run(c.kind);
    EXPECT_EQ(filesBelow(folder), c.files);
    for (const QString& f : c.files)
        EXPECT_FALSE(harvested(f).isEmpty()) << f.toStdString();
    EXPECT_EQ(browser.calls("setAddress"), 0);
    EXPECT_EQ(browser.calls("setAttribute"), 0);
    EXPECT_EQ(page->html(), pageBefore);
    EXPECT_EQ(frame->html(), frameBefore);
    EXPECT_EQ(windows[0]->refreshCount(), 0);
    EXPECT_EQ(pageBar.position(), 100);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MediaKind,
                         ::testing::Values(MediaCase{ckPhoto, {"a1.gif", "f.png"}},
                                           MediaCase{ckMusic, {"bg1.wav", "f.mp3", "song.mid"}},
                                           MediaCase{ckFlash, {"f.swf", "intro.swf"}},
                                           MediaCase{ckEMail, {}}, MediaCase{0, {}},
                                           MediaCase{6, {}}),
                         [](const auto& info) { return "kind" + std::to_string(info.param.kind); });

TEST_F(MediaHarvest, PhotoBytesComeFromTheCacheAndTheFileLabelNamesEach)
{
    run(ckPhoto);
    EXPECT_EQ(harvested("a1.gif"), "GIF-A");
    EXPECT_EQ(harvested("f.png"), "PNG");
    // The frame's page began after the top page, and its picture was the last file shown.
    EXPECT_EQ(urlLabel.text(), "http://h/d/f.htm");
    EXPECT_EQ(fileLabel.text(), "http://cdn/f.png");
}

TEST_F(MediaHarvest, HarvestingAgainCopiesNothing)
{
    run(ckMusic);
    const QDateTime old = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    const QStringList first = filesBelow(folder);
    for (const QString& f : first) {
        QFile file(folder + u'/' + f);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    run(ckMusic);
    EXPECT_EQ(filesBelow(folder), first);
    for (const QString& f : first)
        EXPECT_EQ(QFileInfo(folder + u'/' + f).lastModified(), old) << f.toStdString();
}

TEST_F(MediaHarvest, ADifferentFileWithATakenNameLandsBesideIt)
{
    writeFile(folder + QStringLiteral("/a1.gif"), "GIF-B"); // same size, other bytes
    writeFile(folder + QStringLiteral("/f.png"), "PNG");    // the same file
    run(ckPhoto);
    const QStringList files = filesBelow(folder);
    ASSERT_EQ(files.size(), 3) << files.join(u' ').toStdString();
    EXPECT_EQ(files[0], "a1.gif");
    EXPECT_TRUE(matches(QStringLiteral("a1\\d{1,10}\\.gif"), files[1])) << files[1].toStdString();
    EXPECT_EQ(files[2], "f.png");
    EXPECT_EQ(harvested("a1.gif"), "GIF-B");
    EXPECT_EQ(harvested(files[1]), "GIF-A");
}

TEST_F(Harvest, TwoPagesWhoseFilesShareAHarvestNameKeepBoth)
{
    openPage(QStringLiteral("http://a/p.htm"), QStringLiteral("A"))
        ->addToBody("IMG", {{"src", "x.gif"}});
    openPage(QStringLiteral("http://b/p.htm"), QStringLiteral("B"))
        ->addToBody("IMG", {{"src", "x.gif"}});
    cache.add(QStringLiteral("http://a/x.gif"), "first", QStringLiteral("x[1].gif"));
    cache.add(QStringLiteral("http://b/x.gif"), "second", QStringLiteral("x1.gif"));
    run(ckPhoto);
    const QStringList files = filesBelow(folder);
    ASSERT_EQ(files.size(), 2) << files.join(u' ').toStdString();
    EXPECT_EQ(harvested("x1.gif"), "first");
    EXPECT_EQ(harvested(files[0] == QLatin1String("x1.gif") ? files[1] : files[0]), "second");
}

// ---- page text -------------------------------------------------------------------------------

struct TextCase
{
    const char* what;
    QString title;
    QString body;
    QString name; // a pattern, without ".txt"
};

class TextFile : public Harvest, public ::testing::WithParamInterface<TextCase>
{};

TEST_P(TextFile, IsNamedAfterTheTitleAndHoldsTheBodyText)
{
    const TextCase c = GetParam();
    openPage(QStringLiteral("http://h/p.htm"), c.title)->addToBody("P", {}, c.body);
    run(ckText);
    const QStringList files = filesBelow(folder);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].endsWith(QLatin1String(".txt")));
    const QString name = files[0].chopped(4);
    EXPECT_TRUE(matches(c.name, name)) << name.toStdString();
    EXPECT_LE(files[0].toUtf8().size(), 255);
    EXPECT_EQ(harvested(files[0]), c.body.toUtf8());
}

const QString kSentence = QStringLiteral("Forty: characters of a sentence, exactly");

INSTANTIATE_TEST_SUITE_P(
    Names, TextFile,
    ::testing::Values(
        TextCase{"slashAndColon", "News/Today: Top stories", "Line one\r\nLine two",
                 "News-Today Top stories"},
        TextCase{"blankTitleUsesBody", "", kSentence, "Forty characters of a sentenc"},
        TextCase{"noTextAtAll", " ", "", "\\d{1,10}"},
        TextCase{"title300", QString(300, u'T'), "body", QString(250, u'T')},
        TextCase{"title254CutToBytes", QString(254, u'T'), "body", QString(251, u'T')},
        TextCase{"chinese300", QString(300, QChar(0x65B0)), QString::fromUtf8("正文\n第二行"),
                 QString(83, QChar(0x65B0))},
        TextCase{"dots", "..", "dots", "\\.\\."}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Harvest, SameTitleTwiceLeavesOneFileWithTheLatestText)
{
    openPage(QStringLiteral("http://a/1.htm"), QStringLiteral("Daily"))->addToBody("P", {}, "old");
    openPage(QStringLiteral("http://b/2.htm"), QStringLiteral("Daily"))->addToBody("P", {}, "new");
    run(ckText);
    EXPECT_EQ(filesBelow(folder), QStringList{QStringLiteral("Daily.txt")});
    EXPECT_EQ(harvested("Daily.txt"), "new");
}

TEST_F(Harvest, TextFileWithTheLongestNameIsReplacedByALaterRun)
{
    const FakeDocumentPtr doc = openPage(QStringLiteral("http://h/p.htm"), QString(300, u'T'));
    FakeElement* text = doc->addToBody("P", {}, "first run");
    run(ckText);
    doc->bodyElement()->removeChild(text);
    doc->addToBody("P", {}, "second run");
    EXPECT_NO_THROW(run(ckText));
    const QString name = QString(250, u'T') + QStringLiteral(".txt");
    EXPECT_EQ(filesBelow(folder), QStringList{name});
    EXPECT_EQ(harvested(name), "second run");
}

TEST_F(Harvest, TextIsTakenFromTheTopDocumentOnly)
{
    const FakeDocumentPtr top = openPage(QStringLiteral("http://h/f.htm"), QStringLiteral("Top"));
    top->addToBody("P", {}, "top text");
    const FakeDocumentPtr inner =
        browser.newDocument(QStringLiteral("http://h/in.htm"), QStringLiteral("Inner"));
    inner->addToBody("P", {}, "inner text");
    top->addFrame(QStringLiteral("in"), inner, QStringLiteral("in.htm"));
    run(ckText);
    EXPECT_EQ(filesBelow(folder), QStringList{QStringLiteral("Top.txt")});
    EXPECT_EQ(harvested("Top.txt"), "top text");
    EXPECT_EQ(inner->context()->calls("outerText"), 1);
}

TEST_F(Harvest, PageWithoutBodyWritesNoText)
{
    openPage(QStringLiteral("http://h/p.htm"), QStringLiteral("Frames only"))->removeBody();
    EXPECT_NO_THROW(run(ckText));
    EXPECT_EQ(filesBelow(folder), QStringList());
}

TEST_F(Harvest, MissingTextFolderIsAnInputOutputError)
{
    openPage(QStringLiteral("http://h/p.htm"), QStringLiteral("News"))->addToBody("P", {}, "t");
    openPage(QStringLiteral("http://h/q.htm"), QStringLiteral("More"))->addToBody("P", {}, "u");
    const QString missing = tmp.filePath(QStringLiteral("coll/NoSuchFolder"));
    EXPECT_THROW(engine.CapturePages(missing, csAllPages, ckText), InOutError);
    EXPECT_FALSE(QDir(missing).exists());
    EXPECT_EQ(urlLabel.text(), "http://h/p.htm") << "the run ended at the first page";
    EXPECT_EQ(pageBar.position(), 100);
    EXPECT_EQ(totalBar.position(), totalBar.max());
}

// ---- e-mail addresses ------------------------------------------------------------------------

struct EMailCase
{
    const char* what;
    std::vector<std::optional<QString>> hrefs; // nullopt: an anchor without href
    QStringList expected;
};

class EMailLinks : public Harvest, public ::testing::WithParamInterface<EMailCase>
{};

TEST_P(EMailLinks, CollectTheAddressesOfMailtoLinks)
{
    const EMailCase c = GetParam();
    const FakeDocumentPtr doc = openPage(QStringLiteral("http://h/p.htm"), QStringLiteral("C"));
    for (const auto& href : c.hrefs) {
        if (href)
            doc->addToBody("A", {{"href", *href}}, "link");
        else
            doc->addToBody("A", {{"name", "anchor"}}, "anchor");
    }
    run(ckEMail);
    EXPECT_EQ(engine.EMails, c.expected);
    EXPECT_EQ(filesBelow(folder), QStringList());
    EXPECT_EQ(browser.calls("setAttribute") + browser.calls("setAddress"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, EMailLinks,
    ::testing::Values(
        EMailCase{"queryCut", {"mailto:joe@x.org?subject=Hello%20there"}, {"joe@x.org"}},
        EMailCase{"queryWithAnotherAddress", {"mailto:c@x.org?cc=d@y.org"}, {"c@x.org"}},
        EMailCase{"otherLetterCaseKeepsTheFirstForm",
                  {"mailto:Joe@X.org", "MAILTO:joe@x.ORG", "mailto:JOE@X.ORG?subject=again"},
                  {"Joe@X.org"}},
        EMailCase{"commaListKeptWhole", {"mailto:a@x.org,b@y.org"}, {"a@x.org,b@y.org"}},
        EMailCase{"noAt", {"mailto:joe.x.org"}, {}},
        EMailCase{"noDot", {"mailto:joe@localhost"}, {}},
        EMailCase{"webLinksHoldingAt",
                  {"http://h/users/joe@x.org", "https://joe@x.org/", "ftp://joe@x.org/f"},
                  {}},
        EMailCase{"notDecodedNorTrimmed", {"mailto:%20joe@x.org"}, {"%20joe@x.org"}},
        EMailCase{"anchorsWithoutAddress", {std::nullopt, "mailto:k@x.org"}, {"k@x.org"}},
        EMailCase{"documentOrder",
                  {"mailto:b@x.org", "http://h/", "mailto:a@x.org", "mailto:b@x.org"},
                  {"b@x.org", "a@x.org"}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Harvest, EMailsOfPagesAndFramesInTheOrderFirstFound)
{
    const FakeDocumentPtr one = openPage(QStringLiteral("http://h/1.htm"), QStringLiteral("One"));
    one->addToBody("A", {{"href", "mailto:a@x.org"}});
    const FakeDocumentPtr frame =
        browser.newDocument(QStringLiteral("http://h/f.htm"), QStringLiteral("Frame"));
    frame->addToBody("A", {{"href", "mailto:f@frame.org"}});
    const FakeDocumentPtr nested =
        browser.newDocument(QStringLiteral("http://h/n.htm"), QStringLiteral("Nested"));
    nested->addToBody("A", {{"href", "mailto:n@nested.org"}});
    frame->addFrame(QStringLiteral("n"), nested, QStringLiteral("n.htm"));
    one->addFrame(QStringLiteral("f"), frame, QStringLiteral("f.htm"));
    one->addToBody("A", {{"href", "mailto:b@x.org"}}); // after the FRAME, but the page comes first
    const FakeDocumentPtr two = openPage(QStringLiteral("http://h/2.htm"), QStringLiteral("Two"));
    two->addToBody("A", {{"href", "mailto:B@X.ORG"}});
    two->addToBody("A", {{"href", "mailto:c@x.org"}});
    two->addToBody("A", {{"href", "mailto:f@frame.org"}});

    run(ckEMail);
    EXPECT_EQ(engine.EMails,
              QStringList({"a@x.org", "b@x.org", "f@frame.org", "n@nested.org", "c@x.org"}));
}

TEST_F(Harvest, EMailDialogShowsTheListThroughTheInstalledHandler)
{
    engine.EMails = QStringList({"a@x.org", "b@y.org"});
    EXPECT_NO_THROW(engine.ShowEMailDialog());

    QStringList shown;
    int calls = 0;
    TSaveIE::SetEMailDialogHandler([&](const QStringList& emails) {
        shown = emails;
        ++calls;
    });
    engine.ShowEMailDialog();
    TSaveIE::SetEMailDialogHandler(nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(shown, engine.EMails);
}

} // namespace
