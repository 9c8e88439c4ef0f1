// Faults around saving: a full disk or a file standing where a folder should be never leaves a
// half-written Config.ini, palette or e-mail list, and a page with very many images costs the
// engine no more browser calls than a small one.
#include "AtomicFile.h"
#include "CaptureRun.h"
#include "EMailList.h"
#include "Errors.h"
#include "FakeBrowser.h"
#include "IniFile.h"
#include "PaletteFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Makes every file write beyond a few bytes fail as on a full disk, for the scope's life. The
// limit holds for root too, unlike permissions.
class DiskAlmostFull
{
public:
    DiskAlmostFull()
    {
        m_oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = 16;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~DiskAlmostFull()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldSignal);
    }
    DiskAlmostFull(const DiskAlmostFull&) = delete;
    DiskAlmostFull& operator=(const DiskAlmostFull&) = delete;

private:
    rlimit m_old{};
    void (*m_oldSignal)(int) = nullptr;
};

struct WriteCase
{
    const char* what;
    // Replaces the file at the path with new content; throws on failure.
    std::function<void(const QString&)> write;
};

PaletteCells RedCells()
{
    PaletteCells cells{};
    cells.fill(0x0000FF);
    return cells;
}

const WriteCase kWrites[] = {
    {"ConfigIni",
     [](const QString& path) {
         IniFile::WriteString(path, QStringLiteral("Setup"), QStringLiteral("Language"),
                              QStringLiteral("A value long enough to need more than a few bytes"));
     }},
    {"Palette", [](const QString& path) { WritePalette(path, RedCells()); }},
    {"EMailListWrite",
     [](const QString& path) {
         WriteEMailList(path,
                        {QStringLiteral("new@example.com"), QStringLiteral("other@example.com")});
     }},
    {"EMailListMerge",
     [](const QString& path) {
         MergeIntoEMailListFile(
             path, {QStringLiteral("new@example.com"), QStringLiteral("other@example.com")});
     }},
};

class WriteFault : public ::testing::TestWithParam<WriteCase>
{
protected:
    QTemporaryDir tmp;
};

std::string CaseName(const ::testing::TestParamInfo<WriteCase>& info)
{
    return info.param.what;
}

} // namespace

TEST_P(WriteFault, FullDiskKeepsTheOldFileWholeAndLeavesNoTemporaryFile)
{
    ASSERT_TRUE(tmp.isValid());
    const QString path = tmp.filePath(QStringLiteral("target.txt"));
    const QByteArray old = "[Setup]\r\nLanguage=English\r\nold@example.com\r\n";
    writeFile(path, old);
    {
        DiskAlmostFull full;
        EXPECT_THROW(GetParam().write(path), NimbrilError);
    }
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(filesBelow(tmp.path()), QStringList({"target.txt"}));
}

TEST_P(WriteFault, AFileWhereTheFolderShouldBeIsAClearError)
{
    ASSERT_TRUE(tmp.isValid());
    writeFile(tmp.filePath(QStringLiteral("Collection")), "not a folder");
    const QString path = tmp.filePath(QStringLiteral("Collection/target.txt"));
    try {
        GetParam().write(path);
        ADD_FAILURE() << "no error";
    } catch (const NimbrilError& e) {
        EXPECT_TRUE(QString::fromStdString(e.what()).contains(path)) << e.what();
    }
    EXPECT_EQ(readFile(tmp.filePath(QStringLiteral("Collection"))), "not a folder");
    EXPECT_EQ(filesBelow(tmp.path()), QStringList({"Collection"}));
}

INSTANTIATE_TEST_SUITE_P(Files, WriteFault, ::testing::ValuesIn(kWrites), CaseName);

// ---- very large pages ------------------------------------------------------------------------

namespace {

// The browser calls, the URLs asked for and the files written for saving one page with Count
// images the browser holds.
struct SaveCost
{
    qsizetype calls = 0;
    qsizetype fetched = 0;
    qsizetype files = 0;
};

SaveCost SavePageWithImages(int count)
{
    QTemporaryDir tmp;
    const QString dest = tmp.filePath(QStringLiteral("coll/WebPage"));
    QDir().mkpath(dest);
    FakeBrowser browser;
    CaptureRun engine{&browser};
    PlainTextDisplay pageLabel;
    PlainTextDisplay urlLabel;
    PlainTextDisplay fileLabel;
    PlainProgressBar pageBar;
    engine.displays = {
        .page = &pageLabel, .file = &fileLabel, .url = &urlLabel, .pageBar = &pageBar};

    const FakeDocumentPtr doc =
        browser.newDocument(QStringLiteral("http://h/d/p.htm"), QStringLiteral("Big"));
    browser.addPage(doc);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("i") + QString::number(i) + QStringLiteral(".gif");
        doc->addToBody("IMG", {{"src", name}});
        browser.hold(QStringLiteral("http://h/d/") + name, QByteArray::number(i));
    }
    engine.capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
    qsizetype calls = 0;
    for (const char* op :
         {"pages", "snapshot", "text", "fetch", "fetchShown", "serialize", "caption", "closeAll"})
        calls += browser.calls(QLatin1String(op));
    return {calls, browser.fetchedUrls().size(),
            filesBelow(dest + QStringLiteral("/Big.files")).size()};
}

// A save that could not write everything says so: each resource with why, a picture that could
// not be written is not named by the saved page, and links that name no resource stay out of it.
TEST(IncompleteSave, WhatWasNotSavedIsListedWithWhy)
{
    QTemporaryDir tmp;
    const QString dest = tmp.filePath("WebPage");
    QDir().mkpath(dest);
    FakeBrowser browser;
    auto doc = browser.newDocument("http://h/d/p.htm", "P");
    doc->addToHead("LINK", {{"rel", "canonical"}, {"href", "http://h/d/p.htm?canonical"}});
    doc->addToHead("LINK", {{"rel", "stylesheet"}, {"href", "css/gone.css"}});
    doc->addToBody("IMG", {{"src", "held.gif"}});
    doc->addToBody("IMG", {{"src", "img/big.gif"}});
    doc->addToBody("IMG", {{"src", "img/never.gif"}});
    browser.addPage(doc);
    browser.hold("http://h/d/held.gif", "GIF");
    browser.hold("http://h/d/img/big.gif", QByteArray(4096, 'b'));

    ASSERT_TRUE(writeFile(dest + "/P.files/img", "a file where the folder should be"));

    CaptureRun run(&browser);
    run.capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
    const QString all = Texts(run.notSaved).join('\n');
    EXPECT_TRUE(all.contains("http://h/d/img/never.gif: the browser does not hold it"))
        << all.toStdString();
    EXPECT_TRUE(all.contains("http://h/d/css/gone.css: the browser does not hold it"))
        << all.toStdString();
    EXPECT_TRUE(all.contains("http://h/d/img/big.gif: not written:")) << all.toStdString();
    EXPECT_FALSE(all.contains("held.gif")) << all.toStdString();
    EXPECT_FALSE(all.contains("canonical")) << all.toStdString();
    EXPECT_EQ(run.notSaved.size(), 3);
    const QString page = QString::fromUtf8(readFile(dest + "/P.htm"));
    EXPECT_TRUE(page.contains("src=\"http://h/d/img/big.gif\"")) << page.toStdString();
    EXPECT_TRUE(page.contains("src=\"P.files/held.gif\"")) << page.toStdString();
}

// Links planted in the destination are never written through, and a replaced file never takes
// the set-user bit of what a link pointed to.
TEST(IncompleteSave, NothingIsWrittenThroughALinkInTheDestination)
{
    QTemporaryDir tmp;
    const QString dest = tmp.filePath("WebPage"), elsewhere = tmp.filePath("elsewhere");
    QDir().mkpath(dest);
    QDir().mkpath(elsewhere + "/img");
    ASSERT_TRUE(QFile::link(elsewhere, dest + "/P.files"));
    ASSERT_TRUE(QFile::link(elsewhere + "/img", dest + "/Q.files"));
    FakeBrowser browser;
    for (const char* title : {"P", "R", "S"}) {
        auto doc = browser.newDocument(QString("http://h/d/%1.htm").arg(title), title);
        doc->addToBody("IMG", {{"src", "img/x.gif"}});
        browser.addPage(doc);
    }
    browser.hold("http://h/d/img/x.gif", "GIF");
    QDir().mkpath(dest + "/R.files");
    ASSERT_TRUE(QFile::link(elsewhere + "/img", dest + "/R.files/img"));
    // A link in the very place of a resource file: the bytes go beside it.
    const QString victim = tmp.filePath("victim/x.gif");
    ASSERT_TRUE(writeFile(victim, "precious"));
    QDir().mkpath(dest + "/S.files/img");
    ASSERT_TRUE(QFile::link(victim, dest + "/S.files/img/x.gif"));

    CaptureRun run(&browser);
    run.capturePages(dest, Scope::AllPages, CaptureKind::WebPage);
    EXPECT_TRUE(QDir(elsewhere).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_TRUE(QDir(elsewhere + "/img").entryList(QDir::Files).isEmpty());
    const QString all = Texts(run.notSaved).join('\n');
    EXPECT_TRUE(all.contains("http://h/d/P.htm: the page is not saved")) << all.toStdString();
    EXPECT_TRUE(all.contains("http://h/d/img/x.gif: not written: ")) << all.toStdString();
    EXPECT_EQ(readFile(victim), "precious");
    const QString beside = QString::fromUtf8(readFile(dest + "/S.htm"))
                               .section("src=\"S.files/img/", 1)
                               .section('"', 0, 0);
    EXPECT_TRUE(beside.startsWith("x") && beside != "x.gif") << beside.toStdString();
    EXPECT_EQ(readFile(dest + "/S.files/img/" + beside), "GIF");

    const QString setuid = elsewhere + "/tool";
    ASSERT_TRUE(writeFile(setuid, "#!/bin/sh\n"));
    ::chmod(QFile::encodeName(setuid).constData(), 04755);
    ASSERT_TRUE(QDir().mkpath(tmp.filePath("Text")));
    ASSERT_TRUE(QFile::link(setuid, tmp.filePath("Text/P.txt")));
    CaptureRun(&browser).capturePages(tmp.filePath("Text"), Scope::AllPages, CaptureKind::Text);
    EXPECT_EQ(readFile(setuid), "#!/bin/sh\n");
    const QFileInfo text(tmp.filePath("Text/P.txt"));
    EXPECT_FALSE(text.isSymLink());
    EXPECT_FALSE(text.permissions() & QFile::ExeUser);
    struct stat st
    {};
    ASSERT_EQ(::stat(QFile::encodeName(text.filePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07000, 0u);
}

// A capture killed between writing a file and naming it leaves a temporary file; the next
// capture into that folder removes it, but never the file of a capture still writing.
TEST(IncompleteSave, WhatAKilledCaptureLeftIsRemovedByTheNext)
{
    QTemporaryDir tmp;
    const QString dest = tmp.filePath("WebPage");
    QDir().mkpath(dest + "/P.files/img");
    for (const QString& left :
         QStringList{dest + "/.nimbril-a1B2c3", dest + "/P.files/img/.nimbril-d4E5f6"})
        ASSERT_TRUE(writeFile(left, "half a picture"));
    QString live;
    const int liveFd = OpenLockedTemporaryFile(dest, &live);
    ASSERT_GE(liveFd, 0);
    ASSERT_TRUE(writeFile(dest + "/.nimbril-notes.txt", "a file of the user's"));

    FakeBrowser browser;
    auto doc = browser.newDocument("http://h/d/p.htm", "P");
    browser.addPage(doc);
    CaptureRun(&browser).capturePages(dest, Scope::AllPages, CaptureKind::WebPage);

    EXPECT_FALSE(QFileInfo::exists(dest + "/.nimbril-a1B2c3"));
    EXPECT_FALSE(QFileInfo::exists(dest + "/P.files/img/.nimbril-d4E5f6"));
    EXPECT_TRUE(QFileInfo::exists(live));
    EXPECT_TRUE(QFileInfo::exists(dest + "/.nimbril-notes.txt"));
    ::close(liveFd);
}

} // namespace

TEST(LargePage, TenThousandImagesCostNoMoreBrowserCallsThanAHundred)
{
    const SaveCost small = SavePageWithImages(100);
    const SaveCost large = SavePageWithImages(10000);
    EXPECT_EQ(small.files, 100 + 1); // the images and url.ini
    EXPECT_EQ(large.files, 10000 + 1);
    EXPECT_EQ(large.fetched, 10000); // each image asked for once
    // The images of a page are asked for together, not one call each.
    EXPECT_EQ(large.calls, small.calls);
}
