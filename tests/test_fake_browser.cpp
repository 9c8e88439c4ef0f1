#include "Errors.h"
#include "FakeBrowser.h"

#include <gtest/gtest.h>

namespace {

// A page with resources in head and body, relative and absolute addresses.
struct SamplePage
{
    FakeBrowser browser;
    FakeDocumentPtr doc = browser.newDocument(QStringLiteral("http://h/d/p.htm"), "News");
    FakeElement* script = doc->addToHead("script", {{"src", "js/a.js"}});
    FakeElement* link = doc->addToHead("LINK", {{"rel", "icon"}, {"HREF", "/fav.ico"}});
    FakeElement* img = doc->addToBody("IMG", {{"Src", "img/x.gif"}, {"alt", "a \"b\" & c"}});
    FakeElement* para = doc->addToBody("P", {}, "1 < 2 & ");
    FakeElement* embed = para->add("EMBED", {{"src", "http://o/m.mid"}});
    FakeElement* img2 = para->add("img", {{"src", ""}});
};

QStringList tagsOf(const CollectionPtr& collection)
{
    QStringList tags;
    for (int i = 0; i < collection->length(); ++i)
        tags << collection->item(i)->tagName();
    return tags;
}

TEST(FakeElement, SerialisesTreeWithVoidElementsAndEscaping)
{
    SamplePage page;
    page.para->addText("3 > 2");
    EXPECT_EQ(page.doc->html(),
              "<HTML><HEAD><SCRIPT src=\"js/a.js\"></SCRIPT><LINK rel=\"icon\" HREF=\"/fav.ico\">"
              "</HEAD><BODY><IMG Src=\"img/x.gif\" alt=\"a &quot;b&quot; &amp; c\">"
              "<P>1 &lt; 2 &amp; <EMBED src=\"http://o/m.mid\"><IMG src=\"\">3 &gt; 2</P>"
              "</BODY></HTML>");
    EXPECT_EQ(page.doc->documentElement()->outerHTML(), page.doc->html());
    ElementPtr body = page.doc->body();
    EXPECT_EQ(body->innerText(), "1 < 2 & 3 > 2");
    EXPECT_EQ(body->outerText(), body->innerText());
}

TEST(FakeElement, AttributesMatchWithoutCaseAndKeepTheirSpelling)
{
    SamplePage page;
    EXPECT_EQ(page.img->getAttribute("SRC"), "img/x.gif");
    EXPECT_EQ(page.img->getAttribute("width"), std::nullopt);
    page.img->setAttribute("src", "new.gif");
    page.img->setAttribute("Width", "10");
    EXPECT_EQ(page.img->html(),
              "<IMG Src=\"new.gif\" alt=\"a &quot;b&quot; &amp; c\" Width=\"10\">");
}

TEST(FakeElement, AddressesResolveLikeABrowserAndWritesShowInOuterHtml)
{
    SamplePage page;
    EXPECT_EQ(page.img->address(ElementView::Image), "http://h/d/img/x.gif");
    EXPECT_EQ(page.script->address(ElementView::Script), "http://h/d/js/a.js");
    EXPECT_EQ(page.link->address(ElementView::Link), "http://h/fav.ico");
    EXPECT_EQ(page.embed->address(ElementView::Embed), "http://o/m.mid");
    EXPECT_EQ(page.img2->address(ElementView::Image), "");
    auto* sound = page.doc->addToBody("BGSOUND", {{"src", "s.wav"}});
    EXPECT_EQ(sound->address(ElementView::BackSound), "http://h/d/s.wav");

    EXPECT_TRUE(page.img->hasView(ElementView::Image));
    EXPECT_FALSE(page.img->hasView(ElementView::Embed));
    EXPECT_THROW(page.img->address(ElementView::Link), SafecallError);

    page.img->setAddress(ElementView::Image, "News.files/img/x.gif");
    page.link->setAddress(ElementView::Link, "News.files/fav.ico");
    const QString html = page.doc->documentElement()->outerHTML();
    EXPECT_TRUE(html.contains("<IMG Src=\"News.files/img/x.gif\"")) << html.toStdString();
    EXPECT_TRUE(html.contains("HREF=\"News.files/fav.ico\"")) << html.toStdString();
}

TEST(FakeElement, ProtocolOfAnchorsOnly)
{
    FakeBrowser browser;
    auto doc = browser.newDocument("http://h/p.htm");
    EXPECT_EQ(doc->addToBody("A", {{"href", "MAILTO:Joe@x.org?subject=hi"}})->protocol(),
              "mailto:");
    EXPECT_EQ(doc->addToBody("a", {{"href", "q.htm"}})->protocol(), "http:");
    EXPECT_EQ(doc->addToBody("A", {{"name", "top"}})->protocol(), "");
    EXPECT_EQ(doc->addToBody("LINK", {{"href", "mailto:a@b.c"}})->protocol(), "");
}

TEST(FakeDocument, CollectionsInDocumentOrder)
{
    SamplePage page;
    EXPECT_EQ(tagsOf(page.doc->images()), QStringList({"IMG", "IMG"}));
    EXPECT_EQ(page.doc->images()->item(1).get(), page.img2);
    EXPECT_EQ(page.doc->images()->item(2), nullptr);
    EXPECT_EQ(tagsOf(page.doc->scripts()), QStringList({"SCRIPT"}));
    EXPECT_EQ(tagsOf(page.doc->embeds()), QStringList({"EMBED"}));
    const QStringList all = {"HTML", "HEAD", "SCRIPT", "LINK", "BODY", "IMG", "P", "EMBED", "IMG"};
    EXPECT_EQ(tagsOf(page.doc->all()), all);
    EXPECT_EQ(tagsOf(page.doc->all()->tags("img")), QStringList({"IMG", "IMG"}));

    page.doc->removeBody();
    EXPECT_EQ(page.doc->body(), nullptr);
    EXPECT_EQ(page.doc->images()->length(), 0);
}

TEST(FakeDocument, FramesFoundByExactName)
{
    FakeBrowser browser;
    auto top = browser.newDocument("http://h/f.htm");
    auto menu = browser.newDocument("http://h/menu.htm", "Menu");
    auto* frame = top->addFrame("menu", menu, "menu.htm");
    EXPECT_EQ(frame->html(), "<FRAME name=\"menu\" src=\"menu.htm\">");
    EXPECT_EQ(top->frames()->documentByName("menu"), menu);
    EXPECT_EQ(top->frames()->documentByName("Menu"), nullptr);
    EXPECT_EQ(top->frames()->documentByName("main"), nullptr);
}

TEST(FakeBrowserWindow, RefreshUndoesWritesInPageAndFrames)
{
    SamplePage page;
    auto inner = page.browser.newDocument("http://h/d/in.htm");
    auto* innerImg = inner->addToBody("IMG", {{"src", "i.gif"}});
    auto* frame = page.doc->addFrame("in", inner, "in.htm");
    const QString before = page.doc->html();
    const QString innerBefore = inner->html();

    page.img->setAddress(ElementView::Image, "a/x.gif");
    page.img->setAddress(ElementView::Image, "b/x.gif");
    page.img->setAttribute("movie", "m.swf");
    frame->setAttribute("SRC", "News.files\\in.htm");
    innerImg->setAddress(ElementView::Image, "in.files/i.gif");

    auto window = page.browser.addBrowserWindow(page.doc);
    window->setOffline(true);
    window->refresh();
    window->setOffline(false);
    window->refresh();
    EXPECT_EQ(page.doc->html(), before);
    EXPECT_EQ(inner->html(), innerBefore);
    EXPECT_EQ(window->refreshOfflineStates(), std::vector<bool>({true, false}));
    EXPECT_EQ(page.doc->pendingWrites(), 0);
}

TEST(FakeBrowserWindow, RefreshSurvivesFrameCyclesAndMissingDocuments)
{
    FakeBrowser browser;
    auto top = browser.newDocument("http://h/f.htm");
    auto inner = browser.newDocument("http://h/in.htm");
    top->addFrame("in", inner);
    inner->addFrame("up", top);
    auto* img = inner->addToBody("IMG", {{"src", "i.gif"}});
    img->setAddress(ElementView::Image, "x.gif");

    auto window = browser.addBrowserWindow(top);
    window->refresh();
    EXPECT_EQ(img->attr("src"), "i.gif");

    auto empty = browser.addBrowserWindow();
    empty->failOn("refresh");
    EXPECT_THROW(empty->refresh(), SafecallError);
    empty->clearFailures();
    empty->refresh();
    EXPECT_EQ(empty->refreshCount(), 1);
}

TEST(FakeBrowser, FailureInjectionAndCounters)
{
    SamplePage page;
    auto other = page.browser.newDocument("http://h/2.htm", "Two");

    page.img->failOn("outerHTML");
    EXPECT_THROW(page.img->outerHTML(), SafecallError);
    EXPECT_NO_THROW(page.embed->outerHTML());
    EXPECT_EQ(page.browser.calls("outerHTML"), 2);

    page.browser.failAfter("title", 2);
    EXPECT_EQ(page.doc->title(), "News");
    EXPECT_EQ(other->title(), "Two");
    EXPECT_THROW(page.doc->title(), SafecallError);
    EXPECT_THROW(other->title(), SafecallError);

    page.browser.failAfter("url", 0, 1);
    EXPECT_THROW(page.doc->url(), SafecallError);
    EXPECT_EQ(page.doc->url(), "http://h/d/p.htm");

    // A call failed by its object does not use up a rule's successes.
    page.browser.failAfter("innerText", 1);
    page.para->failOn("innerText");
    EXPECT_THROW(page.para->innerText(), SafecallError);
    EXPECT_NO_THROW(page.embed->innerText());
    EXPECT_THROW(page.embed->innerText(), SafecallError);

    page.doc->nullOn("images");
    EXPECT_EQ(page.doc->images(), nullptr);
    page.doc->clearFailures();
    EXPECT_NE(page.doc->images(), nullptr);
    EXPECT_EQ(page.browser.calls("setAddress"), 0);
}

TEST(FakeBrowser, WindowListReadsCurrentEntries)
{
    FakeBrowser browser;
    browser.setCaption("News - Chromium");
    const WindowListPtr list = browser.windows();
    auto window = browser.addBrowserWindow(browser.newDocument("http://h/"));
    browser.addOtherWindow();
    browser.addNullEntry();
    browser.addBrowserWindow();
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(0)->asBrowser(), window.get());
    EXPECT_EQ(list->item(1)->asBrowser(), nullptr);
    EXPECT_EQ(list->item(2), nullptr);
    EXPECT_FALSE(list->item(3)->asBrowser()->hasDocument());

    EXPECT_NE(window->htmlDocument(), nullptr);
    window->setHtml(false);
    EXPECT_TRUE(window->hasDocument());
    EXPECT_EQ(window->htmlDocument(), nullptr);

    EXPECT_EQ(browser.topmostBrowserCaption(), "News - Chromium");
    browser.closeAllBrowserWindows();
    EXPECT_EQ(browser.closeAllCount(), 1);
}

} // namespace
