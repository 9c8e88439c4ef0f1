// A saved page opened from disk shows what the live page showed: what its style sheets, srcsets
// and media name is saved beside it and named relative to each copy, inline frames become pages
// of their own, every other address is read against the document, and the classic passes stay
// one switch away.
#include "CaptureRun.h"
#include "FakeBrowser.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ostream>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

class OfflineCopy : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        QDir().mkpath(dest);
    }

    FakeDocumentPtr openPage(const QString& url = QStringLiteral("http://h/d/p.htm"))
    {
        const FakeDocumentPtr doc = browser.newDocument(url, QStringLiteral("News"));
        browser.addPage(doc);
        return doc;
    }
    void saveAll() { engine.capturePages(dest, Scope::AllPages, CaptureKind::WebPage); }
    QString saved(const QString& rel) const
    {
        return QString::fromUtf8(readFile(dest + u'/' + rel));
    }
    void expectInPage(const QStringList& parts)
    {
        const QString html = saved(QStringLiteral("News.htm"));
        for (const QString& part : parts)
            EXPECT_TRUE(html.contains(part)) << part.toStdString() << "\n" << html.toStdString();
    }

    QTemporaryDir tmp;
    QString dest = tmp.filePath(QStringLiteral("WebPage"));
    FakeBrowser browser;
    CaptureRun engine{&browser};
};

// A page that uses its sheets, its style and its media every way the tests below save.
void BuildStyledPage(FakeBrowser& browser, const FakeDocumentPtr& doc)
{
    doc->addToHead("LINK", {{"rel", "stylesheet"}, {"href", "css/site.css"}});
    doc->addToHead("STYLE", {}, "@import url(css/more.css); h1{background:url('img/h1.png')}");
    doc->addToBody("DIV", {{"style", "background:url(img/div.png)"}});
    doc->addToBody(
        "IMG", {{"src", "s.png"}, {"srcset", "s.png 1x, l.png 2x, data:image/svg+xml,<svg/> 3x"}});
    FakeElement* video = doc->addToBody("VIDEO", {{"poster", "media/poster.jpg"}});
    video->add("SOURCE", {{"src", "v.mp4"}, {"type", "video/mp4"}});
    video->add("SOURCE", {{"src", "v.webm"}, {"type", "video/webm"}});
    video->add("TRACK", {{"src", "subs.vtt"}, {"default", ""}});
    doc->addToBody("AUDIO", {{"src", "//cdn.example/a.mp3"}});
    doc->bodyElement()->setAttr("background", "img/paper.gif");
    doc->addToBody("A", {{"href", "next.htm"}}, "next");

    browser.hold("http://h/d/css/site.css", "@import \"parts/fonts.css\";\n"
                                            "@import \"gone.css\";\n"
                                            "body{background:url(../img/bg.png)}\n"
                                            ".x{background:url(//cdn.example/i/icon.svg#home)}\n"
                                            ".y{background:url(/missing.png)}\n"
                                            ".z{background:url(data:image/gif;base64,R0)}");
    // The imported sheet imports the one that imports it.
    browser.hold("http://h/d/css/parts/fonts.css",
                 "@import url(../site.css);\n"
                 "@font-face{font-family:F;src:url(../../fonts/f.woff2) format(\"woff2\")}");
    browser.hold("http://h/d/css/more.css", "p{color:red}");
    browser.hold("http://h/d/img/bg.png", "BG");
    browser.hold("http://cdn.example/i/icon.svg", "SVG");
    browser.hold("http://h/d/fonts/f.woff2", "WOFF2");
    browser.hold("http://h/d/img/h1.png", "H1");
    browser.hold("http://h/d/img/div.png", "DIV");
    browser.hold("http://h/d/s.png", "S");
    browser.hold("http://h/d/media/poster.jpg", "POSTER");
    browser.hold("http://h/d/v.mp4", "MP4");
    browser.hold("http://h/d/subs.vtt", "WEBVTT");
    browser.hold("http://h/d/img/paper.gif", "PAPER");
}

TEST_F(OfflineCopy, StyleSheetsTakeWhatTheyNameAlongAndNameItFromWhereEachCopyLies)
{
    BuildStyledPage(browser, openPage());
    saveAll();

    EXPECT_EQ(
        filesBelow(dest),
        QStringList({"News.files/css/more.css", "News.files/css/parts/fonts.css",
                     "News.files/css/site.css", "News.files/fonts/f.woff2", "News.files/icon.svg",
                     "News.files/img/bg.png", "News.files/img/div.png", "News.files/img/h1.png",
                     "News.files/img/paper.gif", "News.files/media/poster.jpg", "News.files/s.png",
                     "News.files/subs.vtt", "News.files/url.ini", "News.files/v.mp4", "News.htm"}));
    // Addresses are relative to the sheet's own copy; what the browser does not hold keeps its
    // web address; inline data stays as it was.
    EXPECT_EQ(saved("News.files/css/site.css"), "@import \"parts/fonts.css\";\n"
                                                "@import \"http://h/d/css/gone.css\";\n"
                                                "body{background:url(\"../img/bg.png\")}\n"
                                                ".x{background:url(\"../icon.svg#home\")}\n"
                                                ".y{background:url(\"http://h/missing.png\")}\n"
                                                ".z{background:url(data:image/gif;base64,R0)}");
    EXPECT_EQ(saved("News.files/css/parts/fonts.css"),
              "@import url(\"../site.css\");\n"
              "@font-face{font-family:F;src:url(\"../../fonts/f.woff2\") format(\"woff2\")}");
    EXPECT_EQ(saved("News.files/css/more.css"), "p{color:red}");
    EXPECT_EQ(saved("News.files/fonts/f.woff2"), "WOFF2");
    expectInPage({"<LINK rel=\"stylesheet\" href=\"News.files/css/site.css\">",
                  "<STYLE>@import url(\"News.files/css/more.css\"); "
                  "h1{background:url(\"News.files/img/h1.png\")}</STYLE>",
                  "<DIV style=\"background:url(&quot;News.files/img/div.png&quot;)\">"});
    // Each address is asked of the browser once, however many sheets and passes name it.
    QStringList asked = browser.fetchedUrls();
    EXPECT_EQ(asked.removeDuplicates(), 0) << asked.join(u' ').toStdString();
}

TEST_F(OfflineCopy, SrcsetsPostersAndMediaNameTheCopiesTheBrowserHeldAndTheWebForTheRest)
{
    BuildStyledPage(browser, openPage());
    saveAll();
    expectInPage({"<IMG src=\"News.files/s.png\" srcset=\"News.files/s.png 1x, "
                  "http://h/d/l.png 2x, data:image/svg+xml,<svg/> 3x\">",
                  "<VIDEO poster=\"News.files/media/poster.jpg\">",
                  "<SOURCE src=\"News.files/v.mp4\" type=\"video/mp4\">",
                  "<SOURCE src=\"http://h/d/v.webm\" type=\"video/webm\">",
                  "<TRACK src=\"News.files/subs.vtt\" default=\"\">",
                  "<AUDIO src=\"http://cdn.example/a.mp3\">",
                  "<BODY background=\"News.files/img/paper.gif\">",
                  "<A href=\"http://h/d/next.htm\">"});
}

TEST_F(OfflineCopy, EveryAddressFormIsReadAgainstTheDocumentAndItsBase)
{
    const FakeDocumentPtr doc = openPage();
    doc->addToHead("BASE", {{"href", "/assets/"}});
    doc->addToHead("SCRIPT", {{"src", "/static/x.js"}});
    doc->addToHead("SCRIPT", {{"src", "//cdn.example/lib.js"}});
    doc->addToBody("IMG", {{"src", "a.png"}});
    doc->addToBody("IMG", {{"src", "http://h/d/abs.png"}});
    doc->addToBody("IMG", {{"src", "../gone.png"}});
    doc->addToBody("A", {{"href", "page2.htm"}}, "2");
    doc->addToBody("A", {{"href", "#top"}}, "top");
    doc->addToBody("A", {{"href", "mailto:a@b.example"}}, "mail");
    browser.hold("http://cdn.example/lib.js", "LIB");
    browser.hold("http://h/assets/a.png", "A");
    browser.hold("http://h/d/abs.png", "ABS");
    saveAll();

    EXPECT_EQ(filesBelow(dest),
              QStringList({"News.files/abs.png", "News.files/assets/a.png", "News.files/lib.js",
                           "News.files/url.ini", "News.htm"}));
    // The base no longer sends the copy's own addresses to the web.
    expectInPage({"<BASE href=\".\">", "<SCRIPT src=\"http://h/static/x.js\">",
                  "<SCRIPT src=\"News.files/lib.js\">", "<IMG src=\"News.files/assets/a.png\">",
                  "<IMG src=\"News.files/abs.png\">", "<IMG src=\"http://h/gone.png\">",
                  "<A href=\"http://h/assets/page2.htm\">", "<A href=\"#top\">",
                  "<A href=\"mailto:a@b.example\">"});
}

TEST_F(OfflineCopy, TheCopySaysTheEncodingItIsWrittenInAndSheetsKeepTheirs)
{
    const FakeDocumentPtr doc = openPage();
    doc->addToHead("META", {{"charset", "windows-1252"}});
    doc->addToHead("META",
                   {{"http-equiv", "Content-Type"}, {"content", "text/html; charset=latin1"}});
    doc->addToHead("LINK", {{"rel", "stylesheet"}, {"href", "bom.css"}});
    doc->addToHead("LINK", {{"rel", "stylesheet"}, {"href", "latin.css"}});
    // A byte order mark says UTF-8 to a browser opening the copy; bytes that are no UTF-8 stay
    // the bytes they were.
    browser.hold("http://h/d/bom.css", "\xEF\xBB\xBFp:before{content:\"\xE2\x86\x92\"}"
                                       "p{background:url(b.png)}");
    browser.hold("http://h/d/latin.css", "q:before{content:\"\xE9\"}q{background:url(b.png)}");
    browser.hold("http://h/d/b.png", "B");
    saveAll();

    expectInPage({"<META charset=\"utf-8\">",
                  "<META http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"});
    EXPECT_EQ(readFile(dest + "/News.files/bom.css"),
              "\xEF\xBB\xBFp:before{content:\"\xE2\x86\x92\"}p{background:url(\"b.png\")}");
    EXPECT_EQ(readFile(dest + "/News.files/latin.css"),
              "q:before{content:\"\xE9\"}q{background:url(\"b.png\")}");
}

TEST_F(OfflineCopy, InlineFramesAreSavedLikeFramesInTheirOwnPageAndFolder)
{
    const FakeDocumentPtr doc = openPage();
    const FakeDocumentPtr widget =
        browser.newDocument(QStringLiteral("http://h/d/widgets/w.htm"), QStringLiteral("Widget"));
    widget->addToBody("IMG", {{"src", "pic.png"}});
    browser.hold("http://h/d/widgets/pic.png", "PIC");
    doc->addInlineFrame(widget, QStringLiteral("widgets/w.htm"));
    doc->addInlineFrame(browser.newDocument(QStringLiteral("about:blank")),
                        QStringLiteral("about:blank"));
    doc->addInlineFrame(nullptr, QStringLiteral("gone.htm"));
    const QString live = doc->html();
    saveAll();

    EXPECT_EQ(filesBelow(dest),
              QStringList({"News.files/Widget.files/pic.png", "News.files/Widget.files/url.ini",
                           "News.files/Widget.htm", "News.files/url.ini", "News.htm"}));
    expectInPage({"<IFRAME src=\"News.files/Widget.htm\">", "<IFRAME src=\"about:blank\">",
                  "<IFRAME src=\"http://h/d/gone.htm\">"});
    EXPECT_TRUE(saved("News.files/Widget.htm").contains("<IMG src=\"Widget.files/pic.png\">"))
        << saved("News.files/Widget.htm").toStdString();

    // The classic passes leave inline frames alone.
    QDir(dest).removeRecursively();
    engine.classicPages = true;
    saveAll();
    EXPECT_EQ(filesBelow(dest), QStringList({"News.files/url.ini", "News.htm"}));
    EXPECT_EQ(saved("News.htm"), live);
}

TEST_F(OfflineCopy, ClassicSavesWriteWhatTheyWroteBefore)
{
    const FakeDocumentPtr doc = openPage();
    BuildStyledPage(browser, doc);
    doc->addToHead("BASE", {{"href", "/d/"}});
    doc->addToBody("IMG", {{"src", "gone.png"}});
    const QString live = doc->html();
    engine.classicPages = true;
    saveAll();

    EXPECT_EQ(filesBelow(dest), QStringList({"News.files/css/site.css", "News.files/s.png",
                                             "News.files/url.ini", "News.htm"}));
    EXPECT_EQ(saved("News.files/css/site.css").left(26), "@import \"parts/fonts.css\";");
    QString expected = live;
    expected.replace("href=\"css/site.css\"", "href=\"News.files/css/site.css\"")
        .replace("<IMG src=\"s.png\"", "<IMG src=\"News.files/s.png\"");
    EXPECT_EQ(saved("News.htm"), expected);
}

} // namespace
