// The content harvesters: flat copies of photos, music and movies, page text files and e-mail
// addresses, over pages and their frames.
#include "CaptureRun.h"
#include "Errors.h"
#include "FakeBrowser.h"
#include "FileNames.h"
#include "TestFiles.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <QDateTime>
#include <QDir>
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
        engine.displays.page = &pageLabel;
        engine.displays.url = &urlLabel;
        engine.displays.file = &fileLabel;
        engine.displays.pageBar = &pageBar;
        engine.displays.totalBar = &totalBar;
    }

    FakeDocumentPtr openPage(const QString& url, const QString& title)
    {
        const FakeDocumentPtr doc = browser.newDocument(url, title);
        browser.addPage(doc);
        return doc;
    }

    void run(CaptureKind kind) { engine.capturePages(folder, Scope::AllPages, kind); }
    QByteArray harvested(const QString& name) const { return readFile(folder + u'/' + name); }

    QTemporaryDir tmp;
    QString folder = tmp.filePath(QStringLiteral("coll/Harvest"));
    FakeBrowser browser;
    CaptureRun engine{&browser};
    PlainTextDisplay pageLabel;
    PlainTextDisplay urlLabel;
    PlainTextDisplay fileLabel;
    PlainProgressBar pageBar;
    PlainProgressBar totalBar;
};

// ---- photos, music, movies -------------------------------------------------------------------

// A page with one resource of every sort, most of them held by the browser, and a frame with
// more.
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
        page->addToBody("IMG", {{"src", "img/not-held.gif"}});
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

        browser.hold(QStringLiteral("http://h/d/p.htm"), "<HTML>");
        browser.hold(QStringLiteral("http://h/d/js/app.js"), "JS");
        browser.hold(QStringLiteral("http://h/d/s.css"), "CSS");
        browser.hold(QStringLiteral("http://h/d/img/a.gif"), "GIF-A");
        browser.hold(QStringLiteral("http://h/d/media/song.mid"), "MID");
        browser.hold(QStringLiteral("http://h/d/snd/bg1.wav"), "WAV1");
        browser.hold(QStringLiteral("http://h/d/snd/bg2.wav"), "WAV2");
        browser.hold(QStringLiteral("http://h/d/flash/intro.swf"), "SWF");
        browser.hold(QStringLiteral("http://cdn/f.png"), "PNG");
        browser.hold(QStringLiteral("http://h/d/f.mp3"), "MP3");
        browser.hold(QStringLiteral("http://cdn/f.swf"), "FSWF");
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
    CaptureKind kind;
    QStringList files;
};

class MediaKind : public MediaHarvest, public ::testing::WithParamInterface<MediaCase>
{};

TEST_P(MediaKind, CopiesTheHeldFilesFlatAndLeavesThePageAlone)
{
    const MediaCase c = GetParam();
    run(c.kind);
    EXPECT_EQ(filesBelow(folder), c.files);
    for (const QString& f : c.files)
        EXPECT_FALSE(harvested(f).isEmpty()) << f.toStdString();
    EXPECT_EQ(page->html(), pageBefore);
    EXPECT_EQ(frame->html(), frameBefore);
    EXPECT_EQ(pageBar.position(), 100);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MediaKind,
                         ::testing::Values(MediaCase{CaptureKind::Photo, {"a.gif", "f.png"}},
                                           MediaCase{CaptureKind::Music,
                                                     {"bg1.wav", "f.mp3", "song.mid"}},
                                           MediaCase{CaptureKind::Flash, {"f.swf", "intro.swf"}},
                                           MediaCase{CaptureKind::EMail, {}}),
                         [](const auto& info) { return FolderOf(info.param.kind).toStdString(); });

TEST_F(MediaHarvest, PhotoBytesComeFromTheBrowserAndTheFileLabelNamesEach)
{
    run(CaptureKind::Photo);
    EXPECT_EQ(harvested("a.gif"), "GIF-A");
    EXPECT_EQ(harvested("f.png"), "PNG");
    // The frame's page began after the top page, and its picture was the last file shown.
    EXPECT_EQ(urlLabel.text(), "http://h/d/f.htm");
    EXPECT_EQ(fileLabel.text(), "http://cdn/f.png");
}

TEST_F(MediaHarvest, HarvestingAgainCopiesNothing)
{
    run(CaptureKind::Music);
    const QDateTime old = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    const QStringList first = filesBelow(folder);
    for (const QString& f : first) {
        QFile file(folder + u'/' + f);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    run(CaptureKind::Music);
    EXPECT_EQ(filesBelow(folder), first);
    for (const QString& f : first)
        EXPECT_EQ(QFileInfo(folder + u'/' + f).lastModified(), old) << f.toStdString();
}

TEST_F(MediaHarvest, ADifferentFileWithATakenNameLandsBesideIt)
{
    writeFile(folder + QStringLiteral("/a.gif"), "GIF-B"); // same size, other bytes
    writeFile(folder + QStringLiteral("/f.png"), "PNG");   // the same file
    run(CaptureKind::Photo);
    const QStringList files = filesBelow(folder);
    ASSERT_EQ(files.size(), 3) << files.join(u' ').toStdString();
    EXPECT_EQ(files[0], "a.gif");
    EXPECT_TRUE(matches(QStringLiteral("a\\d{1,10}\\.gif"), files[1])) << files[1].toStdString();
    EXPECT_EQ(files[2], "f.png");
    EXPECT_EQ(harvested("a.gif"), "GIF-B");
    EXPECT_EQ(harvested(files[1]), "GIF-A");
}

TEST_F(Harvest, TwoPagesWhoseFilesShareAHarvestNameKeepBoth)
{
    openPage(QStringLiteral("http://a/p.htm"), QStringLiteral("A"))
        ->addToBody("IMG", {{"src", "x.gif"}});
    openPage(QStringLiteral("http://b/p.htm"), QStringLiteral("B"))
        ->addToBody("IMG", {{"src", "x.gif"}});
    browser.hold(QStringLiteral("http://a/x.gif"), "first");
    browser.hold(QStringLiteral("http://b/x.gif"), "second");
    run(CaptureKind::Photo);
    const QStringList files = filesBelow(folder);
    ASSERT_EQ(files.size(), 2) << files.join(u' ').toStdString();
    EXPECT_EQ(harvested("x.gif"), "first");
    EXPECT_EQ(harvested(files[0] == QLatin1String("x.gif") ? files[1] : files[0]), "second");
}

TEST_F(Harvest, AFileIsNamedAfterTheLastSegmentOfItsAddress)
{
    const FakeDocumentPtr doc = openPage(QStringLiteral("http://h/d/p.htm"), QStringLiteral("P"));
    const QStringList sources = {"my%20pic.gif?v=2#top", "a%3Ab.gif", "sub/", "caf%C3%A9.gif",
                                 "100%25.png"};
    for (const QString& src : sources) {
        doc->addToBody("IMG", {{"src", src}});
        browser.hold(CombineUrl(doc->url(), src), src.toUtf8());
    }
    run(CaptureKind::Photo);
    EXPECT_EQ(filesBelow(folder), QStringList({"100%.png", "ab.gif", QString::fromUtf8("café.gif"),
                                               "index", "my pic.gif"}));
    EXPECT_EQ(harvested("index"), "sub/");
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
    run(CaptureKind::Text);
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
    run(CaptureKind::Text);
    EXPECT_EQ(filesBelow(folder), QStringList{QStringLiteral("Daily.txt")});
    EXPECT_EQ(harvested("Daily.txt"), "new");
}

TEST_F(Harvest, TextFileWithTheLongestNameIsReplacedByALaterRun)
{
    const FakeDocumentPtr doc = openPage(QStringLiteral("http://h/p.htm"), QString(300, u'T'));
    FakeElement* text = doc->addToBody("P", {}, "first run");
    run(CaptureKind::Text);
    doc->bodyElement()->removeChild(text);
    doc->addToBody("P", {}, "second run");
    EXPECT_NO_THROW(run(CaptureKind::Text));
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
    run(CaptureKind::Text);
    EXPECT_EQ(filesBelow(folder), QStringList{QStringLiteral("Top.txt")});
    EXPECT_EQ(harvested("Top.txt"), "top text");
    EXPECT_EQ(browser.calls("text"), 1);
}

TEST_F(Harvest, PageWithoutBodyWritesNoText)
{
    openPage(QStringLiteral("http://h/p.htm"), QStringLiteral("Frames only"))->removeBody();
    EXPECT_NO_THROW(run(CaptureKind::Text));
    EXPECT_EQ(filesBelow(folder), QStringList());
}

TEST_F(Harvest, MissingTextFolderIsAnInputOutputError)
{
    openPage(QStringLiteral("http://h/p.htm"), QStringLiteral("News"))->addToBody("P", {}, "t");
    openPage(QStringLiteral("http://h/q.htm"), QStringLiteral("More"))->addToBody("P", {}, "u");
    const QString missing = tmp.filePath(QStringLiteral("coll/NoSuchFolder"));
    EXPECT_THROW(engine.capturePages(missing, Scope::AllPages, CaptureKind::Text), InOutError);
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
    run(CaptureKind::EMail);
    EXPECT_EQ(engine.emails, c.expected);
    EXPECT_EQ(filesBelow(folder), QStringList());
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
        // A line break or an escape in an address would forge lines of the list or reach a
        // terminal: such a text is no address.
        EMailCase{"lineBreakForgesNoSecondAddress",
                  {"mailto:a@b.c\nforged@evil.example", "mailto:e@x.org"},
                  {"e@x.org"}},
        EMailCase{"controlOrBlankInside", {"mailto:x@y.org\x1b[2J", "mailto:p q@x.org"}, {}},
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

    run(CaptureKind::EMail);
    EXPECT_EQ(engine.emails,
              QStringList({"a@x.org", "b@x.org", "f@frame.org", "n@nested.org", "c@x.org"}));
}

} // namespace
