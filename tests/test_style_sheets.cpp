// Style sheets and addresses read as a browser reads them: which addresses a sheet names, the same
// text naming other addresses with nothing else changed, and every form of address resolved.
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
