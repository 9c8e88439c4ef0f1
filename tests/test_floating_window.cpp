#include "CaptureRun.h"
#include "FakeBrowser.h"
#include "FloatingWindow.h"
#include "ProgressWindow.h"
#include "TestContext.h"
#include "TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

// A main window in a temporary program folder and collection, with shell opens and message
// boxes recorded instead of shown.
class FormMain : public ContextTest
{
protected:
    void SetUp() override
    {
        QDir().mkpath(paths().collectionRoot);
        language().setLanguage("English");
        form = std::make_unique<FloatingWindow>(context());
        form->showViewer = [this] { ++viewerShown; };
    }
    void TearDown() override { form.reset(); }
    QStringList actionTexts(QMenu* menu)
    {
        QStringList out;
        for (QAction* a : menu->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }
    void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                   Qt::MouseButtons buttons)
    {
        QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }

    int viewerShown = 0;
    std::unique_ptr<FloatingWindow> form;
};

TEST_F(FormMain, MenuHoldsEveryCommandInOrder)
{
    const QStringList expected = {"m_HideWindow",       "m_ViewStashet",  "m_OpenStashet",
                                  "m_SaveCurrentPage",  "m_SaveAllPages", "m_SavePhoto",
                                  "m_SavePhotoCurrent", "m_SavePhotoAll", "m_SaveFlash",
                                  "m_SaveFlashCurrent", "m_SaveFlashAll", "m_SaveMusic",
                                  "m_SaveMusicCurrent", "m_SaveMusicAll", "m_SaveText",
                                  "m_SaveTextCurrent",  "m_SaveTextAll",  "m_SaveEMail",
                                  "m_SaveEMailCurrent", "m_SaveEMailAll", "m_SaveColor",
                                  "m_CloseAllIE",       "m_Setup",        "m_Help",
                                  "m_HelpContent",      "m_About",        "m_HomePage",
                                  "m_ReportBUG",        "m_Exit"};
    QStringList sorted = form->itemNames();
    sorted.sort();
    QStringList want = expected;
    want.sort();
    EXPECT_EQ(sorted, want);

    // Top level: separators where the menu has them, submenus for the harvest kinds and help.
    QStringList top;
    for (QAction* a : form->pm_Text->actions())
        top << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    EXPECT_EQ(top, QStringList({"m_HideWindow",
                                "-",
                                "m_ViewStashet",
                                "m_OpenStashet",
                                "-",
                                "m_SaveCurrentPage",
                                "m_SaveAllPages",
                                "m_SavePhoto",
                                "m_SaveFlash",
                                "m_SaveMusic",
                                "m_SaveText",
                                "m_SaveEMail",
                                "-",
                                "m_SaveColor",
                                "m_CloseAllIE",
                                "-",
                                "m_Setup",
                                "-",
                                "m_Help",
                                "m_Exit"}));
    QMenu* photo = form->item("m_SavePhoto")->menu();
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->actions().size(), 2);
    EXPECT_EQ(photo->actions()[0]->objectName(), "m_SavePhotoCurrent");
    QMenu* help = form->item("m_Help")->menu();
    ASSERT_TRUE(help);
    EXPECT_EQ(help->actions().size(), 5); // four items and a separator
    for (const QString& name : expected)
        EXPECT_FALSE(form->item(name)->icon().isNull()) << name.toStdString();
}

TEST_F(FormMain, CaptionsComeFromTheCurrentLanguageAtEveryOpening)
{
    writeText(paths().programDir + "English.LAG",
              "[Translations]\r\nForm_Main.m_Exit.Caption=E&xit\r\n"
              "Form_Main.m_SaveText.Caption=Save All Text\r\n");
    language().setLanguage("English");
    form->PrepareMenu();
    EXPECT_EQ(form->item("m_Exit")->text(), "E&xit");
    EXPECT_EQ(form->item("m_SaveText")->text(), "Save All Text");
    EXPECT_EQ(form->item("m_Setup")->text(), ""); // missing key: no caption

    // A language chosen meanwhile shows at the next opening, without restart.
    writeText(paths().programDir + "Deutsch.LAG",
              "[Translations]\r\nForm_Main.m_SaveText.Caption=Text\r\n");
    language().setLanguage("Deutsch");
    form->PrepareMenu();
    EXPECT_EQ(form->item("m_SaveText")->text(), "Text");
    EXPECT_EQ(form->item("m_Exit")->text(), "");
}

TEST_F(FormMain, OpenFolderListsTheCollectionsFoldersOnly)
{
    QDir(paths().collectionRoot).mkpath("Photo");
    QDir(paths().collectionRoot).mkpath("A&B");
    writeText(paths().collectionRoot + "note.txt", "x");
    form->PrepareMenu();
    QStringList texts = actionTexts(form->m_OpenStashetMenu);
    ASSERT_GE(texts.size(), 2);
    EXPECT_EQ(texts.mid(0, 2), QStringList({"URLs", "-"}));
    QStringList folders = texts.mid(2);
    folders.sort();
    EXPECT_EQ(folders, QStringList({"A&&B", "Photo"}));

    // Folders made meanwhile show at the next opening.
    QDir(paths().collectionRoot).mkpath("New");
    form->PrepareMenu();
    EXPECT_EQ(form->m_OpenStashetMenu->actions().size(), 5);

    for (QAction* a : form->m_OpenStashetMenu->actions())
        if (!a->isSeparator())
            a->trigger();
    EXPECT_TRUE(opened().contains(paths().favoritesDir));
    EXPECT_TRUE(opened().contains(paths().collectionRoot + "A&B"));
    EXPECT_TRUE(opened().contains(paths().collectionRoot + "Photo"));
}

TEST_F(FormMain, MissingCollectionRootGivesOnlyUrls)
{
    paths().collectionRoot = tmp.filePath("nowhere") + "/";
    form->PrepareMenu();
    EXPECT_EQ(actionTexts(form->m_OpenStashetMenu), QStringList({"URLs", "-"}));
}

TEST_F(FormMain, SmallMovesAreClicksLargerOnesMoveTheWindow)
{
    form->show();
    const QPoint start = form->pos();

    // 2 pixels in each direction: still a click, which opens the viewer.
    sendMouse(form->btn_Text, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(form->btn_Text, QEvent::MouseMove, {12, 12}, Qt::NoButton, Qt::LeftButton);
    EXPECT_FALSE(form->isDragMoving());
    sendMouse(form->btn_Text, QEvent::MouseButtonRelease, {12, 12}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(viewerShown, 1);

    // 3 pixels: a move, and the release opens nothing.
    sendMouse(form->btn_Text, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(form->btn_Text, QEvent::MouseMove, {13, 10}, Qt::NoButton, Qt::LeftButton);
    EXPECT_TRUE(form->isDragMoving());
    sendMouse(form->btn_Text, QEvent::MouseButtonRelease, {40, 10}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(viewerShown, 1);
    EXPECT_FALSE(form->isDragMoving());
    (void)start;

    // Moves without the left button held do nothing.
    form->btn_TextMouseMove(Qt::RightButton, {40, 40});
    EXPECT_FALSE(form->isDragMoving());

    // The window manager ends its move with a release of its own: one that no press on the
    // button began, or a second one after the move's, clicks nothing.
    sendMouse(form->btn_Text, QEvent::MouseButtonRelease, {40, 10}, Qt::LeftButton, Qt::NoButton);
    sendMouse(form->btn_Photo, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(form->btn_Text, QEvent::MouseButtonRelease, {5, 5}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(viewerShown, 1);
    EXPECT_TRUE(opened().isEmpty());
}

TEST_F(FormMain, PhotoButtonMeasuresAgainstTheLastPressOnTheTextButton)
{
    form->btn_TextMouseDown(Qt::LeftButton, {20, 20});
    form->btn_TextMouseDown(Qt::RightButton, {0, 0}); // other buttons store nothing
    EXPECT_EQ(form->DragStart, QPoint(20, 20));
    sendMouse(form->btn_Photo, QEvent::MouseMove, {21, 22}, Qt::NoButton, Qt::LeftButton);
    EXPECT_FALSE(form->isDragMoving());
    sendMouse(form->btn_Photo, QEvent::MouseMove, {20, 23}, Qt::NoButton, Qt::LeftButton);
    EXPECT_TRUE(form->isDragMoving());
}

TEST_F(FormMain, ButtonReleasesOpenViewerAndPhotoFolderWithAnyButton)
{
    sendMouse(form->btn_Text, QEvent::MouseButtonPress, {5, 5}, Qt::RightButton, Qt::RightButton);
    sendMouse(form->btn_Text, QEvent::MouseButtonRelease, {5, 5}, Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(viewerShown, 1);
    sendMouse(form->btn_Photo, QEvent::MouseButtonPress, {5, 5}, Qt::RightButton, Qt::RightButton);
    sendMouse(form->btn_Photo, QEvent::MouseButtonRelease, {5, 5}, Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(opened(), QStringList({paths().collectionRoot + "Photo"}));
}

TEST_F(FormMain, HelpAboutHomePageAndBugReport)
{
    writeText(paths().programDir + "English.LAG",
              "[Translations]\r\nC_NimbrilApp=Nimbril\r\n"
              "C_Author=Written by us\r\nC_HomePage=Home page\r\n"
              "C_BUGReport=Nimbril bug report\r\n");
    language().setLanguage("English");
    form->item("m_HelpContent")->trigger();
    form->item("m_HomePage")->trigger();
    form->item("m_ReportBUG")->trigger();
    EXPECT_EQ(opened(), QStringList({paths().programDir + "NimbrilApp.html",
                                     FloatingWindow::HomePageAddress(),
                                     "mailto:" + FloatingWindow::BugReportAddress() +
                                         "?subject=Nimbril bug report"}));
    form->item("m_About")->trigger();
    ASSERT_EQ(prompts().shown().size(), 1);
    EXPECT_EQ(prompts().shown()[0], "about: Nimbril 1.1\nNimbril 1.1\n\nWritten by us\n\nHome "
                                    "page: " +
                                        FloatingWindow::HomePageAddress());
}

TEST_F(FormMain, HideAndTrayLeftPressBringTheWindowBack)
{
    int restored = 0;
    form->restoreViewer = [&] { ++restored; };
    form->show();
    form->m_HideWindowClick();
    EXPECT_FALSE(form->isVisible());
    form->TrayLeftPress();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(restored, 1);
}

TEST_F(FormMain, TheTrayIconTheStartShowedFirstBecomesTheWindowsWithItsMenuAndPress)
{
    int restored = 0;
    form->restoreViewer = [&] { ++restored; };
    QPointer<QSystemTrayIcon> shown = FloatingWindow::MakeTrayIcon();
    shown->show();
    form->FormCreate(shown);
    ASSERT_EQ(form->trayIcon, shown.data());
    EXPECT_EQ(shown->contextMenu(), form->pm_Text);
    EXPECT_EQ(shown->toolTip(), "Nimbril");

    form->show();
    form->m_HideWindowClick();
    ASSERT_FALSE(form->isVisible());
    Q_EMIT shown->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(restored, 1);
    // The window owns it from now on.
    form.reset();
    EXPECT_TRUE(shown.isNull());
}

TEST_F(FormMain, WithoutATrayThePickerGivesTheWindowBackWhenItCloses)
{
    bool hiddenMeanwhile = false;
    form->showColorPicker = [&] { hiddenMeanwhile = !form->isVisible(); };
    form->FormCreate();
    form->show();
    ASSERT_FALSE(form->TrayShown()); // no tray on the headless screen
    form->item("m_SaveColor")->trigger();
    EXPECT_TRUE(hiddenMeanwhile);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(FormMain, CloseAllAsksFirstAndOnlyYesCloses)
{
    FakeBrowser browser;
    form->browser = &browser;
    for (Prompts::Answer no : {Prompts::Answer::No, Prompts::Answer::Cancel}) {
        prompts().setNextAnswers({no});
        form->item("m_CloseAllIE")->trigger();
        EXPECT_EQ(browser.closeAllCount(), 0);
    }
    prompts().setNextAnswers({Prompts::Answer::Yes});
    form->item("m_CloseAllIE")->trigger();
    EXPECT_EQ(browser.closeAllCount(), 1);
    EXPECT_EQ(form->item("m_CloseAllIE")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F12));
}

// The progress window left behind by the last capture, before it is deleted.
ProgressWindow* lastProgressWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<ProgressWindow*>(w))
            return p;
    return nullptr;
}

TEST_F(FormMain, CaptureCommandShowsItsRunInTheProgressWindow)
{
    writeText(paths().programDir + "English.LAG",
              "[Translations]\r\nForm_Progress.Caption=Download progress\r\n"
              "Form_Progress.lbl_Page1.Caption=Current Page\r\n");
    language().setLanguage("English");
    QDir(paths().collectionRoot).mkpath("Photo");
    FakeBrowser browser;
    form->browser = &browser;
    auto doc = browser.newDocument("http://h/d/p.htm", "Daily News");
    for (int i = 0; i < 3; ++i) {
        const QString url = QString("http://h/d/img/%1.gif").arg(i);
        doc->addToBody("IMG", {{"src", url}});
        browser.hold(url, QByteArray(10 + i, 'g'));
    }
    browser.addPage(doc);
    browser.setCaption("Daily News - Chromium");

    form->item("m_SavePhotoCurrent")->trigger();
    EXPECT_TRUE(prompts().shown().isEmpty()) << prompts().shown().join("|").toStdString();
    EXPECT_EQ(QDir(paths().collectionRoot + "Photo").entryList(QDir::Files).size(), 3);

    ProgressWindow* p = lastProgressWindow();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->windowTitle(), "Download progress");
    EXPECT_EQ(p->lbl_Page1->text(), "Current Page");
    EXPECT_EQ(p->lbl_URL1->text(), ""); // key missing from the file
    EXPECT_EQ(p->lbl_Page->text(), "Daily News");
    EXPECT_EQ(p->lbl_URL->text(), "http://h/d/p.htm");
    EXPECT_EQ(p->lbl_File->text(), "http://h/d/img/2.gif");
    EXPECT_EQ(p->pb_CurrentPage->value(), 100);
    EXPECT_EQ(p->pb_Total->maximum(), 1);
    EXPECT_EQ(p->pb_Total->value(), 1);
    EXPECT_FALSE(p->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(lastProgressWindow(), nullptr);
}

TEST_F(FormMain, CancelOrClosingTheProgressWindowStopsBeforeTheNextPageAndKeepsWhatIsSaved)
{
    QDir(paths().collectionRoot).mkpath("Photo");
    FakeBrowser browser;
    form->browser = &browser;
    for (int page = 0; page < 3; ++page) {
        auto doc = browser.newDocument(QString("http://h/%1.htm").arg(page), "Page");
        const QString url = QString("http://h/img/%1.gif").arg(page);
        doc->addToBody("IMG", {{"src", url}});
        browser.hold(url, QByteArray(10 + page, 'g'));
        browser.addPage(doc);
    }
    // The user's press comes while the first page is captured, when the engine lets events run.
    const auto pressDuringTheRun = [](const std::function<void(ProgressWindow*)>& press) {
        QTimer::singleShot(0, [press] {
            if (ProgressWindow* p = lastProgressWindow())
                press(p);
        });
    };
    pressDuringTheRun([](ProgressWindow* p) { p->btn_Cancel->click(); });
    form->item("m_SavePhotoAll")->trigger();
    EXPECT_TRUE(prompts().shown().isEmpty()) << prompts().shown().join("|").toStdString();
    EXPECT_EQ(QDir(paths().collectionRoot + "Photo").entryList(QDir::Files).size(), 1);
    ASSERT_NE(lastProgressWindow(), nullptr);
    EXPECT_FALSE(lastProgressWindow()->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    pressDuringTheRun([](ProgressWindow* p) {
        p->close();
        EXPECT_TRUE(p->isVisible()); // it stays until the capture has ended
    });
    form->item("m_SaveAllPages")->trigger();
    EXPECT_TRUE(prompts().shown().isEmpty()) << prompts().shown().join("|").toStdString();
    EXPECT_EQ(QDir(paths().collectionRoot + "WebPage").entryList({"*.htm"}, QDir::Files).size(), 1);
}

TEST_F(FormMain, FailedCaptureReachesTheErrorDisplayAndTheProgramGoesOn)
{
    FakeBrowser browser;
    form->browser = &browser;
    browser.addPage(browser.newDocument("http://h/p.htm", "P"));
    browser.failAfter("snapshot", 0);
    form->item("m_SavePhotoAll")->trigger();
    EXPECT_EQ(prompts().shown(), QStringList({"error: Exception in safecall method"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(lastProgressWindow(), nullptr);
}

// What the browser layer says reaches the user in the user's language: the error that ends a
// capture and the reasons of the not-saved list, with addresses left as they are.
TEST_F(FormMain, CaptureFailuresAreShownInTheUsersLanguage)
{
    QFile::copy(QStringLiteral(NIMBRIL_SOURCE_DIR "/lang/") + SimplifiedChineseName + ".LAG",
                paths().programDir + SimplifiedChineseName + ".LAG");
    language().setLanguage(SimplifiedChineseName);
    form->item("m_SavePhotoAll")->trigger(); // no browser at all
    EXPECT_EQ(prompts().shown(), QStringList({"error: 没有连接浏览器。"}));

    language().setLanguage(TraditionalChineseName);
    prompts().clearShown();
    FakeBrowser browser;
    form->browser = &browser;
    browser.addPage(browser.newDocument("http://h/p.htm", "P"));
    browser.failAfter("snapshot", 0);
    form->item("m_SavePhotoAll")->trigger();
    EXPECT_EQ(
        prompts().shown(),
        QStringList({"error: " + ToTraditionalChinese("浏览器调用失败（安全调用方法出现异常）")}));

    language().setLanguage(SimplifiedChineseName);
    prompts().clearShown();
    FakeBrowser holdsNothing;
    form->browser = &holdsNothing;
    auto doc = holdsNothing.newDocument("http://h/p.htm", "P");
    doc->addToBody("IMG", {{"src", "http://h/gone.gif"}});
    holdsNothing.addPage(doc);
    form->item("m_SaveAllPages")->trigger();
    EXPECT_EQ(prompts().shown(), QStringList({"warning: 有 1 个文件未保存：\nhttp://h/gone.gif: "
                                              "浏览器中没有它（未加载或未保留）"}));
}

TEST_F(FormMain, EMailCaptureHandsTheAddressesToTheDialogOnlyWhenThereAreSome)
{
    QStringList shown;
    int dialogs = 0;
    form->showEMails = [&](const QStringList& emails) {
        shown = emails;
        ++dialogs;
    };
    FakeBrowser browser;
    form->browser = &browser;
    auto doc = browser.newDocument("http://h/p.htm", "P");
    browser.addPage(doc);
    form->item("m_SaveEMailAll")->trigger();
    EXPECT_EQ(dialogs, 0);
    doc->addToBody("A", {{"href", "mailto:ann@example.org?subject=hi"}}, "Ann");
    form->item("m_SaveEMailAll")->trigger();
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(shown, QStringList({"ann@example.org"}));
}

TEST_F(FormMain, WindowsOfLaterVersionsSayTheyAreNotAvailable)
{
    form->showViewer = nullptr;
    form->item("m_Setup")->trigger();
    form->item("m_SaveColor")->trigger();
    ASSERT_EQ(prompts().shown().size(), 2);
    EXPECT_TRUE(prompts().shown()[0].contains("not available yet"));
}

} // namespace
