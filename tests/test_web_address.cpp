#include "WebAddress.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

TEST(IsWebUrl, AcceptsOnlyHttpHttpsAndFtp)
{
    for (const char* yes : {"HTTP://X", "http://x", "https://a/b", "Ftp://f", "https://"})
        EXPECT_TRUE(IsWebUrl(yes)) << yes;
    for (const char* no : {"http:/x", "file:///c:/a.htm", "mailto:a@b.c", "", "http:", "ftp:/",
                           " http://x", "about:blank"})
        EXPECT_FALSE(IsWebUrl(no)) << no;
}

struct UrlCase
{
    const char* page;
    const char* resource;
    const char* expected;
};

class RelativePath : public ::testing::TestWithParam<UrlCase>
{};

TEST_P(RelativePath, StartsWhereTheUrlsFirstDiffer)
{
    const UrlCase c = GetParam();
    EXPECT_EQ(RelativeResourcePath(c.page, c.resource), QString(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, RelativePath,
    ::testing::Values(UrlCase{"http://h/d/p.htm", "http://h/d/img/x.gif", "img/x.gif"},
                      UrlCase{"http://h/d/p.htm", "http://k/img/x.gif", "x.gif"},
                      UrlCase{"http://h/d/p.htm", "http://k/x.gif", "x.gif"},
                      UrlCase{"http://h/d/", "http://h/d/x.gif", "x.gif"},
                      UrlCase{"http://h/d/p.htm", "http://h/d/p.htm", ""},
                      UrlCase{"http://h/d/p.htm", "http://h/dx/y.gif", "x/y.gif"},
                      UrlCase{"HTTP://H/D/p.htm", "http://h/d/img/x.gif?v=1#f", "img/x.gif?v=1#f"},
                      UrlCase{"http://h/d/p.htm", "https://h/d/img/x.gif", "x.gif"},
                      UrlCase{"https://h/d/p.htm", "ftp://h/d/img/x.gif", "x.gif"},
                      UrlCase{"http://h/d/p.htm", "data:image/png;base64,AAAAAAAAAAA",
                              "png;base64,AAAAAAAAAAA"},
                      UrlCase{"http://h/d/p.htm", "nothing-with-no-slash-at-all",
                              "nothing-with-no-slash-at-all"}));

TEST(CombineUrl, ResolvesAgainstThePageAndFailsEmpty)
{
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "img/x.gif"), "http://h/d/img/x.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "../x.gif"), "http://h/x.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "/x.gif"), "http://h/x.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "//k/x.gif"), "http://k/x.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "http://k/a.swf"), "http://k/a.swf");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "a b.gif"), "http://h/d/a%20b.gif");
    EXPECT_EQ(CombineUrl("http://h/d/p.htm", "x.gif?q=1"), "http://h/d/x.gif?q=1");
    EXPECT_EQ(CombineUrl("not a url", "x.gif"), "");
    EXPECT_EQ(CombineUrl("", "x.gif"), "");
    EXPECT_EQ(CombineUrl("http://h/", QString(2100, u'a')), ""); // does not fit
}

} // namespace
