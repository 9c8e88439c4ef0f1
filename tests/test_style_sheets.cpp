// Style sheets and srcsets read as a browser reads them: which addresses they name, and the same
// text naming other addresses with nothing else changed.
#include "PageAddresses.h"
#include "StyleSheets.h"

#include <gtest/gtest.h>
#include <ostream>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

QStringList Named(const QString& css)
{
    QStringList out;
    for (const SheetAddress& a : SheetAddresses(css))
        out << (a.import ? QStringLiteral("import:") : QString()) + a.address;
    return out;
}

struct SheetCase
{
    const char* css;
    QStringList named;
};

class SheetAddressCases : public ::testing::TestWithParam<SheetCase>
{};

TEST_P(SheetAddressCases, NamesWhatABrowserWouldLoad)
{
    EXPECT_EQ(Named(QString::fromUtf8(GetParam().css)), GetParam().named) << GetParam().css;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, SheetAddressCases,
    ::testing::Values(
        SheetCase{"a{background:url(img/a.png)}", {"img/a.png"}},
        SheetCase{"a{background:URL( \"b c.png\" ) no-repeat}", {"b c.png"}},
        SheetCase{"a{background:url( 'q.png' )}", {"q.png"}},
        SheetCase{"a{background:url(  spaced.png  )}", {"spaced.png"}},
        SheetCase{"@import \"base.css\";@import url(print.css) print;@IMPORT 'x.css';",
                  {"import:base.css", "import:print.css", "import:x.css"}},
        SheetCase{"@import /* why */ \"c.css\";", {"import:c.css"}},
        // Comments and strings outside url() name nothing.
        SheetCase{"/* url(no.png) @import 'no.css'; */ a{content:\"url(no2.png)\"}"
                  "b{background:url(yes.png)}",
                  {"yes.png"}},
        SheetCase{"a{content:'it\\'s url(no.png)'}", {}},
        // Escapes are undone.
        SheetCase{"a{background:url(a\\(1\\).png)}", {"a(1).png"}},
        SheetCase{"a{background:url(\"\\41 b.png\")}", {"Ab.png"}},
        SheetCase{"a{background:url('x\\'y.png')}", {"x'y.png"}},
        // Inline data and the document's own parts are left alone, as are empty ones.
        SheetCase{"a{background:url(data:image/png;base64,AAAA)} b{filter:url(#blur)}"
                  "c{background:url()} d{background:url(\"DATA:x\")}",
                  {}},
        SheetCase{"a{background-image:image-set(\"a.png\" 1x, url(b.png) 2x)}"
                  "b{content:\"not.png\"}",
                  {"a.png", "b.png"}},
        SheetCase{"@font-face{src:url(f.woff2) format(\"woff2\"),url(f.woff) format('woff')}",
                  {"f.woff2", "f.woff"}},
        // Only a whole "url" function counts, and a bad url token names nothing.
        SheetCase{"a{x:myurl(no.png);y:url(ba d.png);z:url(ok.png)}", {"ok.png"}},
        SheetCase{"a{background:url(unclosed.png", {"unclosed.png"}}));

TEST(SheetRewrite, ChangesOnlyTheAddressesItIsGiven)
{
    const QString css =
        QStringLiteral("@charset \"utf-8\";\n@import 'a.css' screen;\n/* url(c.png) */\n"
                       "x{background:url( b.png ) , url(data:,x);font:12px/1 \"Sans\"}\n"
                       "y{background:url(keep.png)}");
    const QString out = ReplaceSheetAddresses(css, [](const SheetAddress& a) {
        if (a.address == QLatin1String("keep.png"))
            return std::optional<QString>();
        return std::optional<QString>(QStringLiteral("P.files/") + a.address +
                                      (a.import ? QString() : QStringLiteral("?\"q\\")));
    });
    EXPECT_EQ(out, QStringLiteral("@charset \"utf-8\";\n@import \"P.files/a.css\" screen;\n"
                                  "/* url(c.png) */\n"
                                  "x{background:url(\"P.files/b.png?\\\"q\\\\\") , url(data:,x);"
                                  "font:12px/1 \"Sans\"}\n"
                                  "y{background:url(keep.png)}"));
    // Read again, the new addresses are what was written.
    EXPECT_EQ(Named(out), QStringList({"import:P.files/a.css", "P.files/b.png?\"q\\", "keep.png"}));
}

TEST(SheetRewrite, NewLinesInAnAddressStayInsideItsString)
{
    const QString out = ReplaceSheetAddresses(
        u"a{b:url(x)}", [](const SheetAddress&) { return std::optional<QString>("l1\nl2"); });
    EXPECT_EQ(out, QStringLiteral("a{b:url(\"l1\\a l2\")}"));
    EXPECT_EQ(Named(out), QStringList({"l1\nl2"}));
}

TEST(Srcset, CandidatesAsABrowserSplitsThem)
{
    const QList<SrcsetCandidate> c =
        ParseSrcset(u" a.png 1x,b.png  2x , data:image/png;base64,AA,BB 3x,\n c,d.png,e.png,, "
                    u"f.png (w) 480w,, ");
    ASSERT_EQ(c.size(), 5);
    EXPECT_EQ(c[0].address, "a.png");
    EXPECT_EQ(c[0].descriptor, "1x");
    EXPECT_EQ(c[1].address, "b.png");
    EXPECT_EQ(c[1].descriptor, "2x");
    EXPECT_EQ(c[2].address, "data:image/png;base64,AA,BB");
    EXPECT_EQ(c[2].descriptor, "3x");
    // A comma inside an address is part of it; at its end, it ends the candidate.
    EXPECT_EQ(c[3].address, "c,d.png,e.png");
    EXPECT_EQ(c[3].descriptor, "");
    EXPECT_EQ(c[4].address, "f.png");
    EXPECT_EQ(c[4].descriptor, "(w) 480w");

    // Blanks in a saved file's address would split it.
    const QString composed =
        ComposeSrcset({{QStringLiteral("My Page.files/a b.png"), QStringLiteral("1x")},
                       {QStringLiteral("http://h/x.png,"), QString()}});
    EXPECT_EQ(composed, "My%20Page.files/a%20b.png 1x, http://h/x.png%2C");
    const QList<SrcsetCandidate> back = ParseSrcset(composed);
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[1].address, "http://h/x.png%2C");
}

struct AddressCase
{
    const char* address;
    const char* resolved; // against http://h/d/p.htm
    bool relative;
};

class AddressForms : public ::testing::TestWithParam<AddressCase>
{};

TEST_P(AddressForms, ResolveAgainstTheDocument)
{
    const AddressCase& c = GetParam();
    EXPECT_EQ(ResolveAddress(QStringLiteral("http://h/d/p.htm"), QString::fromUtf8(c.address)),
              QString::fromUtf8(c.resolved));
    EXPECT_EQ(IsRelativeAddress(QString::fromUtf8(c.address)), c.relative) << c.address;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AddressForms,
    ::testing::Values(AddressCase{"http://o/x.css", "http://o/x.css", false},
                      AddressCase{"//cdn.example/x.css", "http://cdn.example/x.css", true},
                      AddressCase{"/static/x.js", "http://h/static/x.js", true},
                      AddressCase{"img/x.gif", "http://h/d/img/x.gif", true},
                      AddressCase{"../up.gif", "http://h/up.gif", true},
                      AddressCase{" ?q=1 ", "http://h/d/p.htm?q=1", true},
                      AddressCase{"#top", "http://h/d/p.htm#top", false},
                      AddressCase{"mailto:a@b.c", "mailto:a@b.c", false},
                      AddressCase{"  ", "", false}));

TEST(DocumentBase, TheFirstBaseWithAnAddressCounts)
{
    PageSnapshot doc;
    doc.address = QStringLiteral("http://h/d/p.htm");
    EXPECT_EQ(DocumentBase(doc), "http://h/d/p.htm");
    doc.elements.push_back({QStringLiteral("BASE"), {QStringLiteral("target"), "_top"}, {}, {}});
    doc.elements.push_back({QStringLiteral("BASE"), {QStringLiteral("href"), "/s/"}, {}, {}});
    doc.elements.push_back({QStringLiteral("BASE"), {QStringLiteral("href"), "/t/"}, {}, {}});
    EXPECT_EQ(DocumentBase(doc), "http://h/s/");
}

} // namespace
